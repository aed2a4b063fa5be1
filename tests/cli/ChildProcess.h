#pragma once
// Runs a program as a child process in a given folder and collects its exit
// status, standard output and standard error. The child is killed when it
// runs longer than the time limit, so a test never hangs on it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

struct TChildResult {
  int ExitStatus = -1;  // -1 when the child did not exit normally
  std::string Out;
  std::string Err;
  bool TimedOut = false;
};

inline TChildResult RunChild(const std::vector<std::string>& Arguments, const std::string& Folder,
                             std::chrono::seconds Limit = std::chrono::seconds(60)) {
  TChildResult result;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return result;
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    if (chdir(Folder.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    for (const std::string& a : Arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  const auto deadline = std::chrono::steady_clock::now() + Limit;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.Out, &result.Err};
  int open = 2;
  while (open > 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      result.TimedOut = true;
      break;
    }
    if (poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) result.ExitStatus = WEXITSTATUS(status);
  return result;
}
