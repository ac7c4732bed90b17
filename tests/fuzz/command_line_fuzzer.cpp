// Arbitrary argument lists through the command line and the type-of-service
// text: never a crash, and the settings always within their bounds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/command_line.h"

using namespace vexmo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
  (void)quiet;
  // Arguments are separated by NUL bytes, as they are in memory.
  std::vector<std::string> args = {"vexmo"};
  std::string current;
  for (std::size_t i = 0; i < size && args.size() < 64; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) {
    args.push_back(current);
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) {
    argv.push_back(arg.c_str());
    if ((parse_tos(arg.c_str()) & 1) != 0) {
      std::abort();  // the lowest bit of the type-of-service byte stays 0
    }
  }
  RunSettings settings;
  if (parse_command_line(static_cast<int>(argv.size()), argv.data(), &settings) ==
      CommandLineResult::run) {
    if (settings.host == nullptr || settings.size < 16 || settings.size > 65536 ||
        settings.size % 2 != 0 || settings.count == 0) {
      std::abort();
    }
  }
  return 0;
}
