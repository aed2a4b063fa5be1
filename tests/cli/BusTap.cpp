// A pseudo-terminal RS-485 bus for the README's picture of kq517mon: a
// master port, a slave port, and a monitor port that hears both. Prints the
// three paths, then carries bytes until standard input closes.
//   sim_bus_tap      (docs/make-sim-screenshots.sh starts it)

#include <cstdio>
#include <iostream>
#include <string>

#include "PtyBridge.h"

int main() {
  serialtest::TPtyBridge bus(true);  // A the master, B the slave
  std::printf("master %s\nslave %s\nmonitor %s\n", bus.PathA().c_str(), bus.PathB().c_str(),
              bus.MonitorPath().c_str());
  std::fflush(stdout);
  for (std::string line; std::getline(std::cin, line);) {
  }
  return 0;
}
