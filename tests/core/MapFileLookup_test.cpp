// Where a map file named without a folder is found: the working folder, the
// program's folder, then ../share/kq517/ beside it (window and poller alike).
#include "MapFileLookup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(MapFileLookup, TheProgramsFolderThenItsShareFolder) {
  const fs::path root = fs::temp_directory_path() / ("kq517-lookup-" + std::to_string(::getpid()));
  fs::create_directories(root / "bin");
  fs::create_directories(root / "share" / "kq517");
  const fs::path program = root / "bin" / "Test_KQ517T";
  const std::string name = "lookup-test-map.cfg";  // not in the working folder
  EXPECT_EQ(FindMapFile(name, program), name) << "none found: the name as it is";
  std::ofstream(root / "share" / "kq517" / name) << "a|F|b\n";
  EXPECT_EQ(fs::path(FindMapFile(name, program)), root / "share" / "kq517" / name);
  std::ofstream(root / "bin" / name) << "a|F|b\n";
  EXPECT_EQ(fs::path(FindMapFile(name, program)), root / "bin" / name);
  fs::remove_all(root);
}
