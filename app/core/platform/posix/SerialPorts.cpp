#include "SerialPorts.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Names of Folder's entries that start with Prefix, in natural order; none
// when the folder cannot be read.
std::vector<std::string> EntriesStartingWith(const fs::path& Folder, std::string_view Prefix) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(Folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with(Prefix)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return names;
}

// An on-board port is real when sysfs gives its UART a type (0 is "unknown").
bool HasUart(const fs::path& SysClassTty, const std::string& Name) {
  std::ifstream type(SysClassTty / Name / "type");
  int value = 0;
  return static_cast<bool>(type >> value) && value != 0;
}

}  // namespace

std::vector<std::string> ListSerialPorts(const TSerialPortFolders& Folders) {
  const fs::path dev(Folders.Dev);
  std::vector<std::string> ports;
  const fs::path byId = dev / "serial" / "by-id";
  std::vector<std::string> stable = EntriesStartingWith(byId, "");
  std::sort(stable.begin(), stable.end());  // these names carry no number to order by
  for (const std::string& name : stable) ports.push_back((byId / name).string());
  for (const char* prefix : {"ttyUSB", "ttyACM"})
    for (const std::string& name : EntriesStartingWith(dev, prefix))
      ports.push_back((dev / name).string());
  for (const std::string& name : EntriesStartingWith(dev, "ttyS"))
    if (HasUart(Folders.SysClassTty, name)) ports.push_back((dev / name).string());
  return ports;
}
