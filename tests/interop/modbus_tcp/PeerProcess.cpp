#include "PeerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

TPeerProcess::TPeerProcess(const std::vector<std::string>& Argv,
                           std::chrono::milliseconds Timeout) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    FFailure = std::string("pipe: ") + std::strerror(errno);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  std::vector<char*> args;
  for (const std::string& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int spawned = ::posix_spawn(&FPid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (spawned != 0) {
    FPid = -1;
    FFailure = Argv[0] + ": " + std::strerror(spawned);
    ::close(out[0]);
    return;
  }

  // Read the first line, within the time-out.
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + Timeout;
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd pfd{out[0], POLLIN, 0};
    if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
      FFailure = Argv[0] + " did not announce its port in time";
      break;
    }
    char chunk[64];
    const ssize_t n = ::read(out[0], chunk, sizeof(chunk));
    if (n <= 0) {
      FFailure = Argv[0] + " ended before announcing its port";
      break;
    }
    line.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  if (FFailure.empty()) {
    const long port = std::strtol(line.c_str(), nullptr, 10);
    if (port > 0 && port < 65536)
      FPort = static_cast<uint16_t>(port);
    else
      FFailure = Argv[0] + " announced no port: " + line;
  }
}

TPeerProcess::~TPeerProcess() {
  if (FPid <= 0) return;
  ::kill(FPid, SIGTERM);
  int status = 0;
  ::waitpid(FPid, &status, 0);
}
