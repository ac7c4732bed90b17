// Turns the argument list into the run's settings, or shows the usage text.
#ifndef VEXMO_CLI_COMMAND_LINE_H
#define VEXMO_CLI_COMMAND_LINE_H

#include <cstdint>

#include "cli/settings.h"

namespace vexmo {

// usage_shown: nothing to run (the process ends with -1); help_shown and
// version_shown: asked for (it ends with 0); bad_value: an option's value
// it cannot take, said on standard error (it ends with -1).
enum class CommandLineResult { run, usage_shown, help_shown, version_shown, bad_value };

// Reads a number as a 32-bit strtoul does: leading white space, an optional
// sign (minus negates modulo 2^32), base 0 (prefixes 0x/0X and 0), 8, 10 or 16;
// overflow gives 0xFFFFFFFF (1 with a minus sign). *end (if not nullptr) is
// set after the last digit read, or to text itself when no number was read.
std::uint32_t parse_u32(const char* text, int base, const char** end);

// The type-of-service byte for Priority[:D][:T][:R][:M].
std::uint8_t parse_tos(const char* text);

void print_usage();

// "vexmo VERSION".
void print_version();

// argv[0] is the program name. Prints the usage text when there is nothing
// to run (no argument at all, or options without a host) or when -h, -? or
// --help asks for it, and the version for --version; the first of these
// words ends the reading.
CommandLineResult parse_command_line(int argc, const char* const* argv, RunSettings* settings);

}  // namespace vexmo

#endif  // VEXMO_CLI_COMMAND_LINE_H
