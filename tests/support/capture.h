// Runs a piece of code and returns what it printed on standard output.
#ifndef VEXMO_TESTS_CAPTURE_H
#define VEXMO_TESTS_CAPTURE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

namespace vexmo {

template <typename Fn>
std::string captured_stdout(Fn&& fn) {
  testing::internal::CaptureStdout();
  fn();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// Standard output and standard error of the code, both.
template <typename Fn>
std::pair<std::string, std::string> captured_streams(Fn&& fn) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  fn();
  std::fflush(stdout);
  std::fflush(stderr);
  std::string out = testing::internal::GetCapturedStdout();
  return {out, testing::internal::GetCapturedStderr()};
}

}  // namespace vexmo

#endif  // VEXMO_TESTS_CAPTURE_H
