#pragma once
// The serial ports this machine has, for the port field's list. On Linux: the stable
// names under /dev/serial/by-id first, then the USB adapters (ttyUSB*,
// ttyACM*) and the on-board ports (ttyS*) that have a UART behind them.
// The kernel makes ttyS0 to ttyS31 whether or not a port exists; sysfs tells
// the real ones by a UART type other than 0. On Windows: the COM ports the system lists.

#include <string>
#include <vector>

struct TSerialPortFolders {
  std::string Dev = "/dev";
  std::string SysClassTty = "/sys/class/tty";
};

// Full paths, each group in natural order (ttyUSB2 before ttyUSB10).
std::vector<std::string> ListSerialPorts(const TSerialPortFolders& Folders = {});
