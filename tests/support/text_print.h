// How GoogleTest shows a Text that differs from what a test expected.
#ifndef VEXMO_TESTS_SUPPORT_TEXT_PRINT_H
#define VEXMO_TESTS_SUPPORT_TEXT_PRINT_H

#include <ostream>

#include "common/text.h"

namespace vexmo {

inline void PrintTo(const Text& text, std::ostream* out) {
  *out << '"' << text.view() << '"';
}

}  // namespace vexmo

#endif  // VEXMO_TESTS_SUPPORT_TEXT_PRINT_H
