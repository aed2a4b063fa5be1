// The running program, its version, the system's name and its memory, on Linux.
#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <sstream>
#include <vector>

#include "Commons.h"

namespace {

std::string ReadWholeFile(const char* pPath) {
  std::ifstream in(pPath, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string ProgramFileName() {
  std::vector<char> path(PATH_MAX + 1);
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0) return {};
  return std::string(path.data(), static_cast<size_t>(length));
}

std::string GetVersionStr(const std::string& pFileName) {
  const std::string file = pFileName.empty() ? ProgramFileName() : pFileName;
  if (file.empty()) return {};
  const auto info = ReadFixedFileInfo(file);
  return info ? FormatVersion(*info) : std::string();
}

std::string GetOSString() {
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    const std::string text = ReadWholeFile(path);
    if (!text.empty()) return OsReleasePrettyName(text);
  }
  struct utsname system {};
  if (uname(&system) != 0) return {};
  return std::string(system.sysname) + " " + system.release;
}

uint64_t TotalPhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages > 0 && pageSize > 0)
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);

  std::istringstream meminfo(ReadWholeFile("/proc/meminfo"));
  std::string key;
  uint64_t kilobytes = 0;
  while (meminfo >> key) {
    if (key == "MemTotal:" && meminfo >> kilobytes) return kilobytes * 1024;
  }
  return 0;
}
