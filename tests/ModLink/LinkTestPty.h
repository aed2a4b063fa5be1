// Test support for the serial link: a pseudo-terminal pair. The connection opens the
// slave side by its path; the test drives the master side with raw bytes.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace linktest {

using TBytes = std::vector<std::uint8_t>;

class TPtyPair {
public:
  TPtyPair() {
    char Name[256] = {};
    if (::openpty(&FMaster, &FSlave, Name, nullptr, nullptr) < 0)
      throw std::system_error(errno, std::generic_category(), "openpty");
    FPath = Name;
    MakeRaw(FMaster);
    MakeRaw(FSlave);  // nothing is echoed or cooked before the connection sets it up
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
  }
  ~TPtyPair() {
    CloseMaster();
    if (FSlave >= 0) ::close(FSlave);
  }
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  const std::string& Path() const { return FPath; }
  int Master() const { return FMaster; }
  int Slave() const { return FSlave; }
  void CloseMaster() {
    if (FMaster >= 0) ::close(FMaster);
    FMaster = -1;
  }

  void Write(const TBytes& Bytes) const { Write(Bytes.data(), Bytes.size()); }
  void Write(const std::string& Text) const {
    Write(reinterpret_cast<const std::uint8_t*>(Text.data()), Text.size());
  }
  void Write(const std::uint8_t* Data, std::size_t Count) const {
    std::size_t Done = 0;
    while (Done < Count) {
      const ssize_t Put = ::write(FMaster, Data + Done, Count - Done);
      if (Put > 0) {
        Done += static_cast<std::size_t>(Put);
      } else if (Put < 0 && errno != EAGAIN && errno != EINTR) {
        throw std::system_error(errno, std::generic_category(), "pty write");
      } else {
        pollfd Fd{FMaster, POLLOUT, 0};
        ::poll(&Fd, 1, 100);
      }
    }
  }

  // Everything the connection wrote, collected until the line stays quiet for QuietMs.
  TBytes ReadAll(int QuietMs = 100) const {
    TBytes Result;
    for (;;) {
      pollfd Fd{FMaster, POLLIN, 0};
      if (::poll(&Fd, 1, QuietMs) <= 0 || !(Fd.revents & POLLIN)) break;
      std::uint8_t Chunk[512];
      const ssize_t Got = ::read(FMaster, Chunk, sizeof Chunk);
      if (Got <= 0) break;
      Result.insert(Result.end(), Chunk, Chunk + Got);
    }
    return Result;
  }

private:
  static void MakeRaw(int Fd) {
    termios Settings{};
    ::tcgetattr(Fd, &Settings);
    ::cfmakeraw(&Settings);
    Settings.c_cc[VMIN] = 0;
    Settings.c_cc[VTIME] = 0;
    ::tcsetattr(Fd, TCSANOW, &Settings);
  }

  int FMaster = -1;
  int FSlave = -1;
  std::string FPath;
};

inline int OpenDescriptorCount() {
  int Count = 0;
  if (DIR* Dir = ::opendir("/proc/self/fd")) {
    while (::readdir(Dir)) ++Count;
    ::closedir(Dir);
  }
  return Count;
}

inline int ThreadCount() {
  int Count = 0;
  if (DIR* Dir = ::opendir("/proc/self/task")) {
    while (::readdir(Dir)) ++Count;
    ::closedir(Dir);
  }
  return Count;
}

inline void SleepMs(int Ms) { std::this_thread::sleep_for(std::chrono::milliseconds(Ms)); }

inline TBytes Bytes(std::initializer_list<int> Values) {
  TBytes Result;
  for (int v : Values) Result.push_back(static_cast<std::uint8_t>(v));
  return Result;
}

}  // namespace linktest
