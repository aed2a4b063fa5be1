// ReadMapFileBytes on POSIX descriptors.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "MapFileText.h"

namespace {

// Closes the descriptor on every way out of ReadMapFileBytes.
class TFileDescriptor {
 public:
  explicit TFileDescriptor(int fd) : FFd(fd) {}
  ~TFileDescriptor() {
    if (FFd >= 0) ::close(FFd);
  }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  int Get() const { return FFd; }

 private:
  int FFd;
};

[[noreturn]] void ThrowFileError(int error, const std::string& fileName) {
  throw std::system_error(error, std::generic_category(), fileName);
}

}  // namespace

std::string ReadMapFileBytes(const std::string& fileName) {
  // Non-blocking, so that a FIFO or terminal named like a map file never
  // stalls the window: without a writer it reads as empty, with an idle writer
  // the read fails with EAGAIN. Regular files are not affected.
  TFileDescriptor fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.Get() < 0) ThrowFileError(errno, fileName);

  std::string bytes;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFileError(errno, fileName);
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<std::size_t>(n) > MAX_MAP_FILE_SIZE) {
      ThrowFileError(EFBIG, fileName);
    }
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return bytes;
}
