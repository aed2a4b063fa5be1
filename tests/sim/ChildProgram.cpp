#include "ChildProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(const std::vector<std::string>& argv, const std::string& folder, int& out, int& err) {
  int o[2], e[2];
  if (pipe2(o, O_CLOEXEC) != 0) return -1;
  if (pipe2(e, O_CLOEXEC) != 0) {
    close(o[0]);
    close(o[1]);
    return -1;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(o[1], STDOUT_FILENO);
    dup2(e[1], STDERR_FILENO);
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, STDIN_FILENO);
    if (chdir(folder.c_str()) != 0) _exit(127);
    setenv("LC_ALL", "C", 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(o[1]);
  close(e[1]);
  out = o[0];
  err = e[0];
  return pid;
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

int WaitExit(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    usleep(10000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& folder,
                          std::chrono::milliseconds limit) {
  TProgramResult result;
  int out = -1, err = -1;
  const pid_t pid = Spawn(argv, folder, out, err);
  if (pid < 0) return result;
  const auto deadline = Clock::now() + limit;
  pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  while ((fds[0].fd >= 0 || fds[1].fd >= 0) && Clock::now() < deadline) {
    if (poll(fds, 2, 50) <= 0) continue;
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
  result.exitStatus = WaitExit(pid, deadline);
  return result;
}

TServerProgram::TServerProgram(const std::vector<std::string>& argv, const std::string& folder) {
  FPid = Spawn(argv, folder, FOut, FErr);
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
  kill(FPid, signal);
  const auto deadline = Clock::now() + limit;
  result.exitStatus = WaitExit(FPid, deadline);
  FPid = -1;
  // The pipes close with the program; the limit guards against a descendant
  // that inherited them.
  const auto drainUntil = Clock::now() + std::chrono::seconds(2);
  while ((FOut >= 0 || FErr >= 0) && Clock::now() < drainUntil) ReadAvailable(50);
  result.out = FOutText;
  result.err = FErrText;
  return result;
}
