// Windows backend: files written whole, through a temporary file beside
// them and MoveFileExW with MOVEFILE_REPLACE_EXISTING, which replaces the
// old file in one step. Paths are in the ANSI code page, as the command
// line hands them over.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace vexmo {
namespace {

std::wstring wide(const std::string& text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 0) {
    return std::wstring();
  }
  std::wstring result(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &result[0], n);
  result.resize(static_cast<std::size_t>(n - 1));
  return result;
}

std::wstring temporary_path(const char* path) {
  return wide(std::string(path) + "." + std::to_string(GetCurrentProcessId()) + ".tmp");
}

bool fail(std::string* reason, DWORD error) {
  if (reason != nullptr) {
    char text[512];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, text, sizeof text, nullptr);
    std::string words(text, n);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                              words.back() == '.')) {
      words.pop_back();
    }
    if (words.empty()) {
      words = "Windows error " + std::to_string(error);
    }
    *reason = words;
  }
  return false;
}

}  // namespace

bool replace_file(const char* path, const std::string& text, std::string* reason) {
  const std::wstring temporary = temporary_path(path);
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return fail(reason, GetLastError());
  }
  DWORD written = 0;
  const BOOL wrote =
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  const DWORD write_error = GetLastError();
  CloseHandle(file);
  if (!wrote || written != text.size()) {
    DeleteFileW(temporary.c_str());
    return fail(reason, wrote ? ERROR_DISK_FULL : write_error);
  }
  // A reader that holds the old file open without FILE_SHARE_DELETE keeps
  // it from being replaced for a moment: try again a few times.
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (MoveFileExW(temporary.c_str(), wide(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return true;
    }
    error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
      break;
    }
    Sleep(5);
  }
  DeleteFileW(temporary.c_str());
  return fail(reason, error);
}

bool file_writable(const char* path, std::string* reason) {
  const DWORD attributes = GetFileAttributesW(wide(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return fail(reason, ERROR_DIRECTORY);
  }
  const std::wstring temporary = temporary_path(path);
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return fail(reason, GetLastError());
  }
  CloseHandle(file);
  return true;
}

}  // namespace vexmo
