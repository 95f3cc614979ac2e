#include "pipe_io.h"

#include <unistd.h>

#include <cerrno>

namespace zorvel::robustness {

bool writeAll(int fd, const void *data, std::size_t size) {
  const char *bytes = static_cast<const char *>(data);
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool readAll(int fd, void *data, std::size_t size) {
  char *bytes = static_cast<char *>(data);
  while (size > 0) {
    const ssize_t got = read(fd, bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace zorvel::robustness
