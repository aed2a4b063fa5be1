// Why a serial device does not open, asked of the system the way the library opens it.
#include "SerialOpenFailure.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

// The name of the group that owns Path, empty when it cannot be told.
std::string OwningGroup(const std::string& Path) {
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0) return {};
  std::vector<char> buffer(4096);
  group entry{};
  group* found = nullptr;
  if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr)
    return {};
  return found->gr_name;
}

// Why opening Path the library's way fails now: its errno, or 0 when it opens.
int OpenError(const std::string& Path) {
  if (Path.empty()) return ENOENT;
  const int handle = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (handle < 0) return errno;
  const int error = ::isatty(handle) ? 0 : ENOTTY;
  ::close(handle);
  return error;
}

}  // namespace

std::string SerialDevicePath(const std::string& Port) {
  if (Port.empty() || Port.find('/') != std::string::npos) return Port;
  return "/dev/" + Port;
}

std::string SerialOpenFailureText(const std::string& Message, const std::string& Port) {
  const std::string path = SerialDevicePath(Port);
  const int error = OpenError(path);
  return SerialOpenFailureText(
      Message, path, error, error == EACCES || error == EPERM ? OwningGroup(path) : std::string());
}
