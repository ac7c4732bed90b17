// POSIX backend: files written whole, through a temporary file beside them
// and rename(2), which replaces the old file in one step.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace vexmo {
namespace {

// The temporary file beside path: path.PID.tmp (a textfile collector reads
// only *.prom files, so it never takes this one).
std::string temporary_path(const char* path) {
  return std::string(path) + "." + std::to_string(getpid()) + ".tmp";
}

bool fail(std::string* reason, int error) {
  if (reason != nullptr) {
    *reason = std::strerror(error);
  }
  return false;
}

}  // namespace

bool replace_file(const char* path, const std::string& text, std::string* reason) {
  const std::string temporary = temporary_path(path);
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    return fail(reason, errno);
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      close(fd);
      unlink(temporary.c_str());
      return fail(reason, error);
    }
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0 || rename(temporary.c_str(), path) != 0) {
    const int error = errno;
    unlink(temporary.c_str());
    return fail(reason, error);
  }
  return true;
}

bool file_writable(const char* path, std::string* reason) {
  struct stat status;
  if (stat(path, &status) == 0 && S_ISDIR(status.st_mode)) {
    return fail(reason, EISDIR);
  }
  const std::string temporary = temporary_path(path);
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    return fail(reason, errno);
  }
  close(fd);
  unlink(temporary.c_str());
  return true;
}

}  // namespace vexmo
