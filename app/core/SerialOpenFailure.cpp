#include "SerialOpenFailure.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

std::string SerialOpenFailureText(const std::string& Message, const std::string& Path, int Error,
                                  const std::string& Group) {
  std::string text = Message + " " + (Path.empty() ? "(nessuna porta indicata)" : Path);
  if (Error == 0) return text;
  text += ": ";
  text += std::strerror(Error);
  if (Error == EACCES || Error == EPERM) {
    const std::string group = Group.empty() ? "dialout" : Group;
    text += ". L'utente deve far parte del gruppo \"" + group +
            "\" che possiede il dispositivo (sudo usermod -aG " + group +
            " $USER, poi un nuovo accesso)";
  }
  return text;
}
