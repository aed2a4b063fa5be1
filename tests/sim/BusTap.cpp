// A pseudo-terminal RS-485 bus for the README's picture of kq517mon: a
// master port, a slave port, and a monitor port that hears both. Prints the
// three paths, then carries bytes until standard input closes.
//   sim_bus_tap      (take-screenshots.sh starts it)

#include <cstdio>
#include <iostream>
#include <string>

#include "PtyBus.h"

int main() {
  TPtyBus bus;
  std::printf("master %s\nslave %s\nmonitor %s\n", bus.MasterPort().c_str(),
              bus.SlavePort().c_str(), bus.MonitorPort().c_str());
  std::fflush(stdout);
  for (std::string line; std::getline(std::cin, line);) {
  }
  return 0;
}
