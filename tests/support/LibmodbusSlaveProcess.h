// A libmodbus RTU slave behind a pseudo-terminal bridge, in a child process of
// its own, so that a benchmark measures only its own process's CPU. The child
// lives until this object goes; LinePath is the bridge end to talk to (empty
// when the child could not be started).
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "LibmodbusRtuServer.h"
#include "PtyBridge.h"

namespace interop {

class TLibmodbusSlaveProcess {
 public:
  explicit TLibmodbusSlaveProcess(int Slave) {
    int Channel[2];
    if (::pipe(Channel) != 0) return;
    FChild = ::fork();
    if (FChild == 0) {
      ::close(Channel[0]);
      serialtest::TPtyBridge Bridge;
      TLibmodbusRtuServer Server(Bridge.PathB(), Slave);
      const std::string Path = Bridge.PathA() + "\n";
      if (::write(Channel[1], Path.data(), Path.size()) < 0) _exit(1);
      ::close(Channel[1]);
      for (;;) ::pause();
    }
    ::close(Channel[1]);
    char Buffer[256] = {};
    std::size_t Got = 0;
    while (FChild > 0 && Got < sizeof Buffer - 1 && ::read(Channel[0], Buffer + Got, 1) == 1 &&
           Buffer[Got] != '\n')
      ++Got;
    ::close(Channel[0]);
    FLinePath.assign(Buffer, Got);
  }
  ~TLibmodbusSlaveProcess() {
    if (FChild <= 0) return;
    ::kill(FChild, SIGTERM);
    ::waitpid(FChild, nullptr, 0);
  }
  TLibmodbusSlaveProcess(const TLibmodbusSlaveProcess&) = delete;
  TLibmodbusSlaveProcess& operator=(const TLibmodbusSlaveProcess&) = delete;

  const std::string& LinePath() const { return FLinePath; }

 private:
  pid_t FChild = -1;
  std::string FLinePath;
};

}  // namespace interop
