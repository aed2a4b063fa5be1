// The one pseudo-terminal fixture of the serial tests: a pty pair whose slave side the
// program under test opens by its path, while the test (or a peer it starts) drives the
// master side with raw bytes. Both sides are raw from the start, so nothing is echoed or
// cooked before the library sets the line up, and the test keeps its own slave descriptor
// open so that the master never sees a hang-up while the library reopens the port.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace serialtest {

using TBytes = std::vector<std::uint8_t>;

class TPtyPair {
 public:
  TPtyPair() {
    char Name[256] = {};
    if (::openpty(&FMaster, &FSlave, Name, nullptr, nullptr) != 0)
      throw std::system_error(errno, std::generic_category(), "openpty");
    FPath = Name;
    MakeRaw(FMaster);
    MakeRaw(FSlave);
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
  }
  ~TPtyPair() { HangUp(); }
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  const std::string& Path() const { return FPath; }
  int Master() const { return FMaster; }
  int Slave() const { return FSlave; }
  // Closes both of the test's sides, as a device that has gone away: the library's reads
  // and waits fail from now on.
  void HangUp() {
    for (int* Fd : {&FMaster, &FSlave}) {
      if (*Fd >= 0) ::close(*Fd);
      *Fd = -1;
    }
  }

  void Write(const TBytes& Data) const { Write(Data.data(), Data.size()); }
  void Write(const std::string& Text) const {
    Write(reinterpret_cast<const std::uint8_t*>(Text.data()), Text.size());
  }
  // Writes everything, waiting while the pty's queue is full.
  void Write(const std::uint8_t* Data, std::size_t Count) const {
    for (std::size_t Done = 0; Done < Count;) {
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

  // What arrives on the master side: collected until the line stays quiet for QuietMs
  // after a byte, or until FirstByteTimeoutMs pass without any. Empty when nothing came.
  TBytes Read(int FirstByteTimeoutMs = 2000, int QuietMs = 100) const {
    TBytes Received;
    for (int Timeout = FirstByteTimeoutMs;; Timeout = QuietMs) {
      pollfd Fd{FMaster, POLLIN, 0};
      if (::poll(&Fd, 1, Timeout) <= 0 || !(Fd.revents & POLLIN)) return Received;
      std::uint8_t Chunk[512];
      const ssize_t Got = ::read(FMaster, Chunk, sizeof Chunk);
      if (Got <= 0) return Received;
      Received.insert(Received.end(), Chunk, Chunk + Got);
    }
  }
  TBytes ReadAll(int QuietMs = 100) const { return Read(QuietMs, QuietMs); }
  std::string ReadText(int FirstByteTimeoutMs = 2000, int QuietMs = 100) const {
    const TBytes Bytes = Read(FirstByteTimeoutMs, QuietMs);
    return std::string(Bytes.begin(), Bytes.end());
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

}  // namespace serialtest
