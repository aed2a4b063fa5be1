// Runs an independent peer program while the test thread keeps serving the library's
// main-thread calls, and collects what the program printed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/MainThread.h"

extern char** environ;

namespace interop {

struct TChildResult {
  bool Started = false;
  bool TimedOut = false;
  int ExitCode = -1;
  std::string Output;  // standard output and standard error together
};

// Starts Argv, pumps the default main thread until the program ends or TimeoutMs passes
// (then it is killed), and returns its exit code and output.
inline TChildResult RunPeer(const std::vector<std::string>& Argv, int TimeoutMs = 20000) {
  TChildResult Result;
  int Pipe[2];
  if (::pipe2(Pipe, O_CLOEXEC) != 0) return Result;
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_adddup2(&Actions, Pipe[1], 1);
  posix_spawn_file_actions_adddup2(&Actions, Pipe[1], 2);
  std::vector<char*> Args;
  for (const std::string& Arg : Argv) Args.push_back(const_cast<char*>(Arg.c_str()));
  Args.push_back(nullptr);
  pid_t Pid = -1;
  const int Spawned = posix_spawnp(&Pid, Args[0], &Actions, nullptr, Args.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  ::close(Pipe[1]);
  if (Spawned != 0) {
    ::close(Pipe[0]);
    return Result;
  }
  Result.Started = true;
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  bool Open = true;
  while (Open) {
    DefaultMainThread().ProcessMessages();
    pollfd Poll{Pipe[0], POLLIN, 0};
    if (::poll(&Poll, 1, 2) > 0) {
      char Chunk[1024];
      const ssize_t Count = ::read(Pipe[0], Chunk, sizeof Chunk);
      if (Count > 0)
        Result.Output.append(Chunk, static_cast<std::size_t>(Count));
      else
        Open = false;  // end of output: the program has closed it or ended
    }
    if (std::chrono::steady_clock::now() > Deadline) {
      Result.TimedOut = true;
      ::kill(Pid, SIGKILL);
      break;
    }
  }
  ::close(Pipe[0]);
  int Status = 0;
  // The program may still be ending after closing its output: keep serving meanwhile.
  while (::waitpid(Pid, &Status, WNOHANG) == 0) {
    DefaultMainThread().ProcessMessages();
    ::usleep(1000);
  }
  if (WIFEXITED(Status)) Result.ExitCode = WEXITSTATUS(Status);
  return Result;
}

// True when a program of that name can be found on the PATH.
inline bool OnPath(const std::string& Program) {
  if (Program.find('/') != std::string::npos) return ::access(Program.c_str(), X_OK) == 0;
  const char* Path = ::getenv("PATH");
  std::string Dirs = Path ? Path : "/usr/bin:/bin";
  std::size_t Start = 0;
  while (Start <= Dirs.size()) {
    const std::size_t End = Dirs.find(':', Start);
    const std::string Dir =
        Dirs.substr(Start, End == std::string::npos ? std::string::npos : End - Start);
    if (!Dir.empty() && ::access((Dir + "/" + Program).c_str(), X_OK) == 0) return true;
    if (End == std::string::npos) break;
    Start = End + 1;
  }
  return false;
}

}  // namespace interop
