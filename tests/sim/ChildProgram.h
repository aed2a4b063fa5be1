#pragma once
// Programs started by the interop tests: a run-to-completion call that
// collects exit status and output, and a long-running server whose first
// lines can be awaited and which is stopped with a signal. Every wait has a
// time limit; a child that overstays it is killed.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

struct TProgramResult {
  int exitStatus = -1;  // -1 when the program did not exit by itself
  std::string out;
  std::string err;
};

// Runs `argv` in `folder` with LC_ALL=C and waits for it.
TProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& folder,
                          std::chrono::milliseconds limit = std::chrono::seconds(30));

class TServerProgram {
 public:
  TServerProgram(const std::vector<std::string>& argv, const std::string& folder);
  ~TServerProgram();  // kills the program if it still runs
  TServerProgram(const TServerProgram&) = delete;
  TServerProgram& operator=(const TServerProgram&) = delete;

  // Reads standard output until a line starts with `prefix` and returns the
  // rest of that line; empty when the program ends or the limit passes first.
  std::string WaitForLine(const std::string& prefix,
                          std::chrono::milliseconds limit = std::chrono::seconds(20));

  // Reads standard error until it holds `text`; false when the program ends
  // or the limit passes first.
  bool WaitForErrorText(const std::string& text,
                        std::chrono::milliseconds limit = std::chrono::seconds(20));

  // Sends `signal`, waits for the program to end and returns its exit status
  // (-1 when it had to be killed) and everything it printed.
  TProgramResult Stop(int signal, std::chrono::milliseconds limit = std::chrono::seconds(10));

  bool Running() const { return FPid > 0; }
  pid_t Pid() const { return FPid; }

 private:
  void ReadAvailable(int timeoutMs);

  pid_t FPid = -1;
  int FOut = -1;
  int FErr = -1;
  std::string FOutText;
  std::size_t FOutScanned = 0;
  std::string FErrText;
};
