// The installed tree: cmake --install into a temporary prefix, then the
// programs run from a folder without map files find them in share/kq517.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ChildProgram.h"
#include "LoopbackModbusServer.h"

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& File) {
  std::ostringstream text;
  text << std::ifstream(File).rdbuf();
  return text.str();
}

TEST(InstalledTree, HasTheDebianLayoutAndRunsFromAnyFolder) {
  char name[] = "/tmp/kq517_install_XXXXXX";
  const fs::path root = mkdtemp(name);
  const fs::path prefix = root / "usr";
  const fs::path elsewhere = root / "work";
  fs::create_directories(elsewhere);

  const auto install =
      RunChild({KQ_CMAKE_COMMAND, "--install", KQ_BUILD_DIR, "--prefix", prefix.string()}, "/",
               std::chrono::seconds(120));
  ASSERT_EQ(install.exitStatus, 0) << install.out << install.err;
  std::vector<fs::path> expected = {"bin/kq517poll", "bin/kq517sim", "bin/kq517mon",
                                    "share/kq517/map.cfg", "share/kq517/qvztmap.cfg"};
  if (KQ_WITH_WINDOW)
    expected.insert(expected.end(), {"bin/Test_KQ517T", "share/applications/kq517.desktop",
                                     "share/icons/hicolor/scalable/apps/kq517.svg"});
  for (const fs::path& file : expected) EXPECT_TRUE(fs::is_regular_file(prefix / file)) << file;
  if (KQ_WITH_WINDOW) {
    // The window reads map.cfg from its working folder: the desktop entry starts it there.
    const std::string entry = Contents(prefix / "share/applications/kq517.desktop");
    EXPECT_NE(entry.find("\nExec=" + (prefix / "bin/Test_KQ517T").string() + "\n"),
              std::string::npos)
        << entry;
    EXPECT_NE(entry.find("\nPath=" + (prefix / "share/kq517").string() + "\n"), std::string::npos)
        << entry;
  }

  TLoopbackModbusServer server;
  server.SetRegister(0, 0x0107);
  const auto poll = RunChild({(prefix / "bin/kq517poll").string(), "--tcp",
                              "127.0.0.1:" + std::to_string(server.Port()), "--format", "csv"},
                             elsewhere.string());
  EXPECT_EQ(poll.exitStatus, 0) << poll.err;
  EXPECT_NE(poll.out.find("\r\n0,INT16,,263,0701,Versione Firmware VIVAR517\r\n"),
            std::string::npos)
      << poll.out;
  const auto dump =
      RunChild({(prefix / "bin/kq517sim").string(), "--dump", "--qvzt"}, elsewhere.string());
  EXPECT_EQ(dump.exitStatus, 0) << dump.err;
  EXPECT_NE(dump.out.find("1-0:32.7.0"), std::string::npos) << dump.out;
  fs::remove_all(root);
}

}  // namespace
