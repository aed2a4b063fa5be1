#include "../ProcessSignals.h"

#include <csignal>

#include "../WakeChannel.h"

namespace {

TWakeChannel* gChannel = nullptr;

void OnStopSignal(int) {
  if (gChannel) gChannel->Signal();
}

}  // namespace

void InstallStopHandler(TWakeChannel& Channel) {
  gChannel = &Channel;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;  // a second Ctrl-C ends the program at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void RemoveStopHandler() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  gChannel = nullptr;
}

void IgnoreBrokenPipes() {
  std::signal(SIGPIPE, SIG_IGN);
}
