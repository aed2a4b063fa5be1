// ReadMapFileBytes on the C runtime's descriptors, which report errno as on POSIX.
// A name that is no regular file (a device such as COM1 or CON) is refused before it
// is opened: opening one could wait for ever.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "MapFileText.h"

namespace {

[[noreturn]] void ThrowFileError(int error, const std::string& fileName) {
  throw std::system_error(error, std::generic_category(), fileName);
}

}  // namespace

std::string ReadMapFileBytes(const std::string& fileName) {
  std::error_code status;
  const std::filesystem::path path(fileName);
  if (!std::filesystem::exists(path, status)) ThrowFileError(ENOENT, fileName);
  if (std::filesystem::is_directory(path, status)) ThrowFileError(EISDIR, fileName);
  if (!std::filesystem::is_regular_file(path, status)) ThrowFileError(EINVAL, fileName);
  const int fd = ::_wopen(path.wstring().c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) ThrowFileError(errno, fileName);

  std::string bytes;
  char chunk[65536];
  for (;;) {
    const int n = ::_read(fd, chunk, sizeof chunk);
    if (n < 0) {
      const int error = errno;
      ::_close(fd);
      ThrowFileError(error, fileName);
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<std::size_t>(n) > MAX_MAP_FILE_SIZE) {
      ::_close(fd);
      ThrowFileError(EFBIG, fileName);
    }
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  ::_close(fd);
  return bytes;
}
