// What the serial port field offers and what it says when a port will not open.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "SerialOpenFailure.h"
#include "SerialPorts.h"

namespace {

namespace fs = std::filesystem;

TEST(SerialPorts, StableNamesFirstThenAdaptersAndOnlyTheOnBoardPortsThatHaveAUart) {
  const fs::path root = fs::temp_directory_path() / ("kq_ports_" + std::to_string(::getpid()));
  fs::create_directories(root / "dev/serial/by-id");
  for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "tty0", "null"})
    std::ofstream(root / "dev" / name).put('\n');
  fs::create_symlink("../../ttyUSB2", root / "dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
  for (const auto& [name, type] : {std::pair{"ttyS0", "4"}, std::pair{"ttyS1", "0"}}) {
    fs::create_directories(root / "sys" / name);
    std::ofstream(root / "sys" / name / "type") << type << '\n';
  }

  const std::string dev = (root / "dev").string();
  EXPECT_EQ(
      ListSerialPorts({dev, (root / "sys").string()}),
      (std::vector<std::string>{dev + "/serial/by-id/usb-FTDI_FT232R-if00-port0", dev + "/ttyUSB2",
                                dev + "/ttyUSB10", dev + "/ttyACM0", dev + "/ttyS0"}));
  fs::remove_all(root);
  EXPECT_TRUE(ListSerialPorts({dev, (root / "sys").string()}).empty()) << "no folders, no ports";
}

TEST(SerialOpenFailure, NamesThePortTheReasonAndForPermissionTheGroup) {
  EXPECT_EQ(SerialOpenFailureText("Could not open serial port", "/nonexistent/ttyKQ"),
            std::string("Could not open serial port /nonexistent/ttyKQ: ") + std::strerror(ENOENT));
  EXPECT_EQ(SerialDevicePath("ttyUSB0"), "/dev/ttyUSB0");
  const std::string denied =
      SerialOpenFailureText("Could not open serial port", "/dev/ttyUSB0", EACCES, "uucp");
  EXPECT_NE(denied.find(std::strerror(EACCES)), std::string::npos) << denied;
  EXPECT_NE(denied.find("gruppo \"uucp\""), std::string::npos) << denied;
  EXPECT_NE(SerialOpenFailureText("x", "/dev/ttyS0", EACCES, "").find("\"dialout\""),
            std::string::npos);
}

}  // namespace
