// Ctrl-C, Ctrl-Break and closing the console window reach a console program as control
// events, delivered on a thread of their own.
#include "../ProcessSignals.h"

#include <windows.h>

#include <atomic>

#include "../WakeChannel.h"

namespace {

std::atomic<TWakeChannel*> gChannel{nullptr};
std::atomic<bool> gRequested{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  // The second request goes to the default handler, which ends the program.
  if (gRequested.exchange(true)) return FALSE;
  if (TWakeChannel* channel = gChannel.load()) channel->Signal();
  return TRUE;
}

}  // namespace

void InstallStopHandler(TWakeChannel& Channel) {
  gRequested = false;
  gChannel = &Channel;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void RemoveStopHandler() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  gChannel = nullptr;
}

void IgnoreBrokenPipes() {}
