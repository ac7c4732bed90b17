// Runs a piece of code and returns what it printed on standard output.
#ifndef VEXMO_TESTS_CAPTURE_H
#define VEXMO_TESTS_CAPTURE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace vexmo {

template <typename Fn>
std::string captured_stdout(Fn&& fn) {
  testing::internal::CaptureStdout();
  fn();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

}  // namespace vexmo

#endif  // VEXMO_TESTS_CAPTURE_H
