#pragma once
// Runs a server program that announces its listening port on the first line
// of its standard output, and stops it again.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class TPeerProcess {
 public:
  // Starts Argv[0] with the given arguments and waits up to Timeout for the
  // port line. Port() is 0 when the program did not start or say its port.
  TPeerProcess(const std::vector<std::string>& Argv, std::chrono::milliseconds Timeout);
  ~TPeerProcess();
  TPeerProcess(const TPeerProcess&) = delete;
  TPeerProcess& operator=(const TPeerProcess&) = delete;

  uint16_t Port() const { return FPort; }
  // Process id of the running program, -1 when it did not start.
  pid_t Pid() const { return FPid; }
  // Why Port() is 0, for the test's message.
  const std::string& Failure() const { return FFailure; }

 private:
  pid_t FPid = -1;
  uint16_t FPort = 0;
  std::string FFailure;
};
