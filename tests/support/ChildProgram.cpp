#include "ChildProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

struct TSpawned {
  pid_t pid = -1;
  int out = -1;  // -1 when standard output is not captured
  int err = -1;  // -1 when standard error is not captured
  bool started = false;
};

// Forks and executes argv in folder, its output as Output says. A
// close-on-exec pipe tells whether the exec worked: it closes empty when it
// did, and carries the child's errno when it did not.
TSpawned Spawn(const std::vector<std::string>& argv, const std::string& folder, bool cLocale,
               TServerOutput output) {
  TSpawned s;
  const bool captureOut =
      output == TServerOutput::soCaptured || output == TServerOutput::soErrorToTest;
  const bool captureErr = output == TServerOutput::soCaptured;
  int o[2] = {-1, -1}, e[2] = {-1, -1}, x[2] = {-1, -1};
  if ((captureOut && pipe2(o, O_CLOEXEC) != 0) || (captureErr && pipe2(e, O_CLOEXEC) != 0) ||
      pipe2(x, O_CLOEXEC) != 0) {
    for (int fd : {o[0], o[1], e[0], e[1]})
      if (fd >= 0) close(fd);
    return s;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // Ends with the test even if the test dies.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) dup2(devnull, STDIN_FILENO);
    if (captureOut)
      dup2(o[1], STDOUT_FILENO);
    else if (output == TServerOutput::soDiscarded && devnull >= 0)
      dup2(devnull, STDOUT_FILENO);
    if (captureErr)
      dup2(e[1], STDERR_FILENO);
    else if (output == TServerOutput::soDiscarded && devnull >= 0)
      dup2(devnull, STDERR_FILENO);
    if (chdir(folder.c_str()) == 0) {
      if (cLocale) setenv("LC_ALL", "C", 1);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
    }
    const int error = errno;
    if (write(x[1], &error, sizeof error) < 0) _exit(126);
    _exit(127);
  }
  for (int fd : {o[1], e[1], x[1]})
    if (fd >= 0) close(fd);
  int error = 0;
  ssize_t n = 0;
  while (pid > 0 && (n = read(x[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(x[0]);
  if (pid < 0) {
    for (int fd : {o[0], e[0]})
      if (fd >= 0) close(fd);
    return s;
  }
  s.pid = pid;
  s.out = o[0];
  s.err = e[0];
  s.started = n == 0;
  return s;
}

// Appends what is readable; returns false once the pipe is closed.
bool Drain(int fd, std::string& sink) {
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    sink.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  return n < 0 && (errno == EINTR || errno == EAGAIN);
}

// The exit status, or -1 when the program had to be killed at the deadline
// (timedOut then set) or did not exit by itself.
int WaitExit(pid_t pid, Clock::time_point deadline, const std::function<void()>& whileWaiting,
             bool* timedOut = nullptr) {
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      if (timedOut) *timedOut = true;
      return -1;
    }
    if (whileWaiting) {
      whileWaiting();
      usleep(1000);
    } else {
      usleep(10000);
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& folder,
                          const TRunSettings& settings) {
  TProgramResult result;
  const TSpawned child = Spawn(argv, folder, settings.cLocale, TServerOutput::soCaptured);
  if (child.pid < 0) return result;
  result.started = child.started;
  const auto deadline = Clock::now() + settings.limit;
  pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  const int pollMs = settings.whileWaiting ? 2 : 50;
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (Clock::now() > deadline) {
      kill(child.pid, SIGKILL);
      result.timedOut = true;
      break;
    }
    if (settings.whileWaiting) settings.whileWaiting();
    if (poll(fds, 2, pollMs) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      if (!Drain(fds[i].fd, *sinks[i])) {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  result.exitStatus = WaitExit(child.pid, deadline, settings.whileWaiting, &result.timedOut);
  return result;
}

TProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& folder,
                          std::chrono::milliseconds limit) {
  TRunSettings settings;
  settings.limit = limit;
  return RunProgram(argv, folder, settings);
}

TProgramResult RunChild(const std::vector<std::string>& argv, const std::string& folder,
                        std::chrono::milliseconds limit) {
  TRunSettings settings;
  settings.limit = limit;
  settings.cLocale = false;
  return RunProgram(argv, folder, settings);
}

bool OnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
  const char* path = getenv("PATH");
  const std::string dirs = path ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= dirs.size();) {
    const std::size_t end = dirs.find(':', start);
    const std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

TServerProgram::TServerProgram(const std::vector<std::string>& argv, const std::string& folder,
                               bool cLocale, TServerOutput output) {
  const TSpawned child = Spawn(argv, folder, cLocale, output);
  FOut = child.out;
  FErr = child.err;
  FPid = child.pid;
  if (FPid > 0 && !child.started) Stop(SIGKILL, std::chrono::seconds(5));
}

TServerProgram::~TServerProgram() {
  if (FPid > 0) Stop(SIGKILL, std::chrono::seconds(5));
}

void TServerProgram::ReadAvailable(int timeoutMs) {
  pollfd fds[2] = {{FOut, POLLIN, 0}, {FErr, POLLIN, 0}};
  if (poll(fds, 2, timeoutMs) <= 0) return;
  if (fds[0].revents != 0 && FOut >= 0 && !Drain(FOut, FOutText)) {
    close(FOut);
    FOut = -1;
  }
  if (fds[1].revents != 0 && FErr >= 0 && !Drain(FErr, FErrText)) {
    close(FErr);
    FErr = -1;
  }
}

std::string TServerProgram::WaitForLine(const std::string& prefix,
                                        std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (FPid > 0) {
    for (std::size_t end; (end = FOutText.find('\n', FOutScanned)) != std::string::npos;) {
      const std::string line = FOutText.substr(FOutScanned, end - FOutScanned);
      FOutScanned = end + 1;
      if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
    }
    if (FOut < 0 || Clock::now() > deadline) return {};
    ReadAvailable(50);
  }
  return {};
}

bool TServerProgram::WaitForErrorText(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (FErrText.find(text) == std::string::npos) {
    if (FPid <= 0 || FErr < 0 || Clock::now() > deadline) return false;
    ReadAvailable(50);
  }
  return true;
}

TProgramResult TServerProgram::Stop(int signal, std::chrono::milliseconds limit) {
  TProgramResult result;
  if (FPid <= 0) return result;
  result.started = true;
  kill(FPid, signal);
  const auto deadline = Clock::now() + limit;
  result.exitStatus = WaitExit(FPid, deadline, nullptr, &result.timedOut);
  FPid = -1;
  // The pipes close with the program; the limit guards against a descendant
  // that inherited them.
  const auto drainUntil = Clock::now() + std::chrono::seconds(2);
  while ((FOut >= 0 || FErr >= 0) && Clock::now() < drainUntil) ReadAvailable(50);
  if (FOut >= 0) close(FOut);
  if (FErr >= 0) close(FErr);
  FOut = FErr = -1;
  result.out = FOutText;
  result.err = FErrText;
  return result;
}

TPeerProcess::TPeerProcess(const std::vector<std::string>& Argv, std::chrono::milliseconds Timeout)
    : TServerProgram(Argv, ".", false, TServerOutput::soErrorToTest) {
  if (!Running()) {
    FFailure = Argv[0] + ": cannot be executed";
    return;
  }
  // The first line, within the time-out.
  const std::string line = WaitForLine("", Timeout);
  const long port = std::strtol(line.c_str(), nullptr, 10);
  if (port > 0 && port < 65536)
    FPort = static_cast<std::uint16_t>(port);
  else if (!Running())
    FFailure = Argv[0] + " ended before announcing its port";
  else if (line.empty())
    FFailure = Argv[0] + " did not announce its port in time";
  else
    FFailure = Argv[0] + " announced no port: " + line;
}

TPeerProcess::~TPeerProcess() {
  if (Running()) Stop(SIGTERM, std::chrono::seconds(10));
}
