// The worker thread of an open serial connection. In client mode it carries out the queued
// transactions one at a time, in arrival order, and hands each finished one back to the
// user-interface thread through the connection's message window. In server and monitor mode
// the same thread runs the slave loop or the line monitor instead.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "FrameData.h"
#include "FrameHook.h"
#include "ModbusFraming.h"
#include "ModbusTransaction.h"
#include "ReusableThread.h"
#include "platform/OsEvent.h"
#include "platform/ThreadPriority.h"

class TModbusConnection;
class TModbusClient;

// One frame captured in monitor mode, carried to the user-interface thread; the receiver
// owns the data, unaffected by later frames.
struct TInspectCapturedFrameEventArgs {
  std::uint8_t CommandCode = 0;  // the frame's function code
  TFrameData CommandData;        // the bytes between function code and error check
  std::uint8_t ServerAddress = 0;
};

class TTransactionThread {
 public:
  // Starts the thread at once. Throws std::system_error when the wake-up event cannot be made.
  explicit TTransactionThread(TModbusConnection& AConnection);
  // Stops the thread, wakes it (the wake-up event in client mode, the connection's break event
  // otherwise), waits for it to end, then frees every transaction still queued, unreported.
  // A call the worker handed to the main thread and that has not started yet is given up, so
  // the destructor runs no application handler while the worker may still run; a notice
  // that must not be lost (RunOnMainThread's RunAfterStop) is given once the worker has ended.
  virtual ~TTransactionThread();
  TTransactionThread(const TTransactionThread&) = delete;
  TTransactionThread& operator=(const TTransactionThread&) = delete;

  // Appends at the end of the queue and wakes the worker. The queue owns it from now on.
  void Enqueue(TModbusTransactionPtr Transaction);
  // Frees, unreported, every queued transaction that Client originated (all of them when
  // Client is null). The transaction being executed is not touched.
  void DiscardPendingTransactions(TModbusClient* Client);
  // Queued transactions, or with a Client those addressed to its ServerAddress.
  int CountPendingTransactions(TModbusClient* Client);
  // Priority as the ordinal of the connection's thread priorities, idle (0) to
  // time-critical (6), normal being 3; best effort (platform/ThreadPriority.h).
  void SetPriority(int Priority);

  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }

 protected:
  virtual void Execute();
  // Reports an exception that left a loop or a transaction on the user-interface thread and
  // waits until it has been shown (or until the thread is being stopped).
  virtual void HandleException(std::exception_ptr E);

  void ClientExecute();
  void ServerExecute();   // slave loop
  void MonitorExecute();  // line monitor
  bool ReceiveValidFrame(TModbusBuffer& Frame);
  // Runs Fn on the main thread and waits for it; raises what Fn raised. False when the
  // thread was told to stop before Fn started: Fn is then given up, or, with RunAfterStop,
  // run by the destructor on the main thread once the worker has ended.
  bool RunOnMainThread(std::function<void()> Fn, bool RunAfterStop = false);

  // Worker side: takes the first queued transaction; false when the queue is empty.
  bool FetchNextTransaction(TModbusTransactionPtr& Transaction);
  // Posts a copy of raw line bytes for OnFrameSend / OnFrameReceive when that event is set.
  void InitFrameDataEvent(const std::uint8_t* FrameData, int FrameSize, bool Sending);
  // Reports a frame to the connection's frame hook, when anyone listens.
  void EmitFrame(TFrameDirection Direction, const std::uint8_t* Bytes, int Size,
                 TFrameOutcome Outcome, std::chrono::nanoseconds ResponseTime = {});
  // Reports a monitor's line noise as one invalid frame, and forgets it.
  void EmitLineNoise();
  // Posts one captured frame for OnInspectCapturedFrame.
  void InspectCapturedFrame(std::uint8_t AServerAddress, std::uint8_t ACommandCode,
                            TFrameData ACommandData);
  // Blocks until the wake-up event is signalled, then resets it (auto-reset).
  void WaitForWakeUp();

  TModbusConnection& FConnection;
  const TModbusFraming FFraming;  // the connection's, as it was when the port opened

 private:
  struct TMainCall;
  using TClock = std::chrono::steady_clock;

  void Run();
  void ExecuteTransaction(TModbusTransaction& T);
  void ReceiveReply(TModbusTransaction& T, int QuerySize, TClock::time_point SentAt);
  TServerReply ClassifyReply(TModbusTransaction& T, int ReplySize, TDecodeResult Decoded) const;

  TOsEvent FEvent{false};                   // auto-reset: wakes the client loop
  std::vector<std::uint8_t> FInputBuffer;   // raw line bytes received
  std::vector<std::uint8_t> FOutputBuffer;  // the encoded frame to transmit
  int FInterimBufferSize = 0;
  std::mutex FQueueLock;
  std::deque<TModbusTransactionPtr> FTransactionQueue;
  std::atomic<bool> FTerminated{false};
  std::mutex FPriorityLock;
  TNativeThreadId FNativeThreadId = 0;  // the worker's while it runs, for SetPriority
  int FPriority = 3;                    // the ordinal to apply
  bool FPriorityChanged = false;        // the thread may keep it: not to be reused
  std::mutex FCallLock;
  std::shared_ptr<TMainCall> FPendingCall;   // the call waiting for the main thread, if any
  std::shared_ptr<TMainCall> FDeferredCall;  // given up at the stop, run after the worker ended
  TReusableThread& FThread;                  // the connection's
};
