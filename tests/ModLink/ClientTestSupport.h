// Test support for the master side: a rig that opens a connection and a client on the
// slave side of a pty, whose master side a scripted slave (ScriptedSlave.h) drives.
#pragma once

#include <chrono>
#include <functional>

#include "FrameBytes.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "PtyPair.h"
#include "ScriptedSlave.h"
#include "platform/MainThread.h"

namespace serialtest {

using namespace std::chrono_literals;

// A connection and a client on one pty. RTU frames end after a silence of about 50 ms, long
// enough that a busy test machine does not split a frame written at once.
struct TClientRig {
  explicit TClientRig(TTransmissionMode Mode = tmRTU) {
    Connection.SetPort(Pty.Path());
    Connection.SetBaudRate(br19200);
    Connection.SetTransmissionMode(Mode);
    Connection.SetSilentInterval(Mode == tmRTU ? 100 : 50);
    Connection.SetReceiveTimeout(2000);  // generous: a loaded machine may answer late
    Client.SetConnection(&Connection);
  }
  ~TClientRig() {
    Connection.Close();
    Main().ProcessMessages();
  }

  static TQueuedMainThread& Main() { return DefaultMainThread(); }
  // Runs the messages posted to the main thread until Done holds (generous time-out).
  // Short slices, so that a condition no message changes is still seen at once.
  static bool RunUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit = 10s) {
    const auto Deadline = std::chrono::steady_clock::now() + Limit;
    while (!Main().ProcessMessagesUntil(Done, 5ms))
      if (std::chrono::steady_clock::now() > Deadline) return false;
    return true;
  }

  TPtyPair Pty;
  TModbusConnection Connection;
  TModbusClient Client;
};

}  // namespace serialtest
