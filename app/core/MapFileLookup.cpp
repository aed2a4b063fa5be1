#include "MapFileLookup.h"

#include <system_error>

#include "Commons.h"

namespace fs = std::filesystem;

std::vector<fs::path> MapFileFolders(const fs::path& ProgramPath) {
  std::vector<fs::path> folders{fs::path()};  // the working folder: the name as it is
  if (ProgramPath.empty()) return folders;
  const fs::path programFolder = ProgramPath.parent_path();
  folders.push_back(programFolder);
  folders.push_back((programFolder / ".." / "share" / "kq517").lexically_normal());
  return folders;
}

std::string FindMapFile(const std::string& Name, const fs::path& ProgramPath) {
  for (const fs::path& folder : MapFileFolders(ProgramPath)) {
    std::error_code error;
    const fs::path candidate = folder / Name;
    if (fs::is_regular_file(candidate, error)) return candidate.string();
  }
  return Name;
}

fs::path ThisProgram() {
  return fs::path(ProgramFileName());
}

std::string DescribeMapFileFolders(const fs::path& ProgramPath) {
  std::string text;
  for (const fs::path& folder : MapFileFolders(ProgramPath))
    text += (text.empty() ? "" : ", ") +
            (folder.empty() ? std::string("working folder") : folder.string());
  return text;
}
