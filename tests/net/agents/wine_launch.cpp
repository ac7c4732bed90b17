// Starts a Windows program, writes its process id to a file before the
// program runs, waits for it and exits with its exit code:
//   vexmo_wine_launch.exe PIDFILE PROGRAM [ARGS...]
// The namespace suite runs vexmo.exe under Wine through this. Wine's process
// ids are its own, not Linux's, and vexmo puts the low 16 bits of its id on
// the wire; this is how the suite learns that id the Windows way.
// When the program has ended, a second line gives the microseconds from its
// start to its end: the suite times the program, not the start of Wine.
// The program is tied to a job object that ends it when this launcher ends,
// killed or not, so that a run stopped at its time limit leaves nothing behind.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

// Quotes one argument so that the C runtime's parser gives it back unchanged.
std::wstring quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes double only in front of a quote, which gets one of its own.
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

bool write_line(HANDLE file, unsigned long long value) {
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%llu\n", value);
  DWORD written = 0;
  return WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr) &&
         written == static_cast<DWORD>(length);
}

HANDLE inheritable_std_handle(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  return handle;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) {
    std::fprintf(stderr, "usage: vexmo_wine_launch PIDFILE PROGRAM [ARGS...]\n");
    return 2;
  }
  std::wstring command = quoted(argv[2]);
  for (int i = 3; i < argc; ++i) {
    command += L" " + quoted(argv[i]);
  }

  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inheritable_std_handle(STD_INPUT_HANDLE);
  startup.hStdOutput = inheritable_std_handle(STD_OUTPUT_HANDLE);
  startup.hStdError = inheritable_std_handle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &process)) {
    std::fprintf(stderr, "vexmo_wine_launch: cannot start %ls: error %lu\n", argv[2],
                 GetLastError());
    return 2;
  }
  AssignProcessToJobObject(job, process.hProcess);
  const HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE || !write_line(file, process.dwProcessId)) {
    std::fprintf(stderr, "vexmo_wine_launch: cannot write %ls: error %lu\n", argv[1],
                 GetLastError());
    TerminateProcess(process.hProcess, 2);
    return 2;
  }
  LARGE_INTEGER frequency, started, ended;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&started);
  ResumeThread(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  QueryPerformanceCounter(&ended);
  write_line(file, static_cast<unsigned long long>(ended.QuadPart - started.QuadPart) * 1000000 /
                       static_cast<unsigned long long>(frequency.QuadPart));
  CloseHandle(file);
  DWORD code = 2;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
