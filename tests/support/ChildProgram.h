#pragma once
// Programs started by the tests: a run-to-completion call that collects exit
// status and output, and a long-running server whose first lines can be
// awaited and which is stopped with a signal. Every wait has a time limit; a
// child that overstays it is killed, and every child ends when the test's
// thread that started it ends. Standard input is /dev/null.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TProgramResult {
  bool started = false;   // the program could be executed
  bool timedOut = false;  // it overstayed its limit and was killed
  int exitStatus = -1;    // -1 when the program did not exit by itself
  std::string out;
  std::string err;
};

// How a program runs besides its arguments and folder.
struct TRunSettings {
  std::chrono::milliseconds limit = std::chrono::seconds(30);
  // LC_ALL=C in the child; false leaves the test's own environment (a test
  // that sets the child's locale itself).
  bool cLocale = true;
  // Called again and again while the program runs (at least every few
  // milliseconds): a test that must keep serving its own main-thread queue.
  std::function<void()> whileWaiting;
};

// Runs `argv` (a path, or a name looked up on PATH) in `folder` and waits for it.
TProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& folder,
                          const TRunSettings& settings);
// The same with LC_ALL=C and nothing to do while waiting.
TProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& folder,
                          std::chrono::milliseconds limit = std::chrono::seconds(30));
// The same with the test's own environment (its locale too).
TProgramResult RunChild(const std::vector<std::string>& argv, const std::string& folder,
                        std::chrono::milliseconds limit = std::chrono::seconds(60));

// True when a program of that name (or path) can be executed.
bool OnPath(const std::string& program);

// Where a server program's output goes.
enum class TServerOutput {
  soCaptured,     // both on pipes, for WaitForLine, WaitForErrorText and Stop
  soErrorToTest,  // standard output captured, standard error where the test writes its own
  soToTest,       // both where the test writes its own (a peer nobody reads)
  soDiscarded,    // both to /dev/null
};

class TServerProgram {
 public:
  TServerProgram(const std::vector<std::string>& argv, const std::string& folder,
                 bool cLocale = true, TServerOutput output = TServerOutput::soCaptured);
  virtual ~TServerProgram();  // kills the program if it still runs
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

// A server program that prints the port it listens on as the first line of
// its standard output (a peer started on port 0); stopped with SIGTERM.
class TPeerProcess : public TServerProgram {
 public:
  // Waits up to Timeout for the port line. Port() is 0 when the program did
  // not start or say its port.
  TPeerProcess(const std::vector<std::string>& Argv, std::chrono::milliseconds Timeout);
  ~TPeerProcess() override;

  std::uint16_t Port() const { return FPort; }
  // Why Port() is 0, for the test's message.
  const std::string& Failure() const { return FFailure; }

 private:
  std::uint16_t FPort = 0;
  std::string FFailure;
};
