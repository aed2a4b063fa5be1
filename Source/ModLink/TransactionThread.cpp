#include "TransactionThread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>

#include "Delay.h"
#include "ModLinkError.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "platform/MainThread.h"

TTransactionThread::TTransactionThread(TModbusConnection& AConnection)
    : FConnection(AConnection),
      FInputBuffer(static_cast<std::size_t>(AConnection.DetermineInterimBufferSize())),
      FOutputBuffer(static_cast<std::size_t>(AConnection.DetermineInterimBufferSize())),
      FInterimBufferSize(AConnection.DetermineInterimBufferSize()) {
  // Started last, once every member the loop touches exists.
  FThread = std::thread([this] { Run(); });
}

TTransactionThread::~TTransactionThread() {
  FTerminated.store(true, std::memory_order_release);
  if (FConnection.ConnectionMode() == cmClient)
    FEvent.Set();
  else
    FConnection.SignalBreak();
  std::this_thread::yield();
  // A worker reporting an exception waits for the main thread; keep serving it meanwhile.
  TMainThread& Main = FConnection.MainThread();
  if (Main.IsMainThread()) {
    while (!FFinished.load(std::memory_order_acquire)) {
      Main.CheckSynchronize();
      std::unique_lock<std::mutex> Lock(FFinishLock);
      FFinishedCondition.wait_for(Lock, std::chrono::milliseconds(5),
                                  [this] { return FFinished.load(std::memory_order_acquire); });
    }
  }
  if (FThread.joinable()) FThread.join();
  std::lock_guard<std::mutex> Lock(FQueueLock);
  FTransactionQueue.clear();
}

// ---- the queue (user-interface side) ---------------------------------------------------------

void TTransactionThread::Enqueue(TModbusTransactionPtr Transaction) {
  {
    std::lock_guard<std::mutex> Lock(FQueueLock);
    FTransactionQueue.push_back(std::move(Transaction));
  }
  FEvent.Set();
}

void TTransactionThread::DiscardPendingTransactions(TModbusClient* Client) {
  std::deque<TModbusTransactionPtr> Discarded;  // freed after the lock is released
  {
    std::lock_guard<std::mutex> Lock(FQueueLock);
    if (!Client) {
      Discarded.swap(FTransactionQueue);
    } else {
      auto Keep = std::stable_partition(
          FTransactionQueue.begin(), FTransactionQueue.end(),
          [Client](const TModbusTransactionPtr& T) { return T->Originator != Client; });
      std::move(Keep, FTransactionQueue.end(), std::back_inserter(Discarded));
      FTransactionQueue.erase(Keep, FTransactionQueue.end());
    }
  }
}

int TTransactionThread::CountPendingTransactions(TModbusClient* Client) {
  std::lock_guard<std::mutex> Lock(FQueueLock);
  if (!Client) return static_cast<int>(FTransactionQueue.size());
  const std::uint8_t Address = Client->ServerAddress();
  return static_cast<int>(
      std::count_if(FTransactionQueue.begin(), FTransactionQueue.end(),
                    [Address](const TModbusTransactionPtr& T) { return T->Info.Address == Address; }));
}

void TTransactionThread::SetPriority(int Priority) {
  // Nice values for idle .. time-critical.
  static constexpr std::array<int, 7> NiceValues = {19, 10, 5, 0, -5, -10, -20};
  const int Index = std::clamp(Priority, 0, 6);
  FPriority.store(NiceValues[static_cast<std::size_t>(Index)], std::memory_order_release);
  const int Tid = FNativeThreadId.load(std::memory_order_acquire);
  if (Tid != 0) setpriority(PRIO_PROCESS, static_cast<id_t>(Tid), FPriority.load());
}

// ---- the worker ------------------------------------------------------------------------------

bool TTransactionThread::FetchNextTransaction(TModbusTransactionPtr& Transaction) {
  std::lock_guard<std::mutex> Lock(FQueueLock);
  if (FTransactionQueue.empty()) return false;
  Transaction = std::move(FTransactionQueue.front());
  FTransactionQueue.pop_front();
  return true;
}

void TTransactionThread::WaitForWakeUp() { FEvent.WaitFor(TOsEvent::InfiniteTimeout); }

void TTransactionThread::Run() {
  const int Tid = static_cast<int>(syscall(SYS_gettid));
  FNativeThreadId.store(Tid, std::memory_order_release);
  // A priority set before the thread knew its id is applied now; failure leaves the default.
  if (const int Nice = FPriority.load(); Nice != 0) setpriority(PRIO_PROCESS, static_cast<id_t>(Tid), Nice);
  try {
    Execute();
  } catch (...) {
    HandleException(std::current_exception());
  }
  {
    std::lock_guard<std::mutex> Lock(FFinishLock);
    FFinished.store(true, std::memory_order_release);
  }
  FFinishedCondition.notify_all();
}

void TTransactionThread::Execute() {
  switch (FConnection.ConnectionMode()) {
    case cmClient: ClientExecute(); break;
    case cmServer: ServerExecute(); break;
    case cmMonitor: MonitorExecute(); break;
    default: InternalError();
  }
}

void TTransactionThread::HandleException(std::exception_ptr E) {
  // Shown on the main thread; the worker waits until it has been shown, unless it is told to
  // stop meanwhile (the main thread may then be waiting for this very thread).
  struct TReport {
    std::mutex Lock;
    std::condition_variable Shown;
    bool Done = false;
  };
  auto Report = std::make_shared<TReport>();
  FConnection.MainThread().Post([Report, E] {
    HandleApplicationException(E);
    std::lock_guard<std::mutex> Lock(Report->Lock);
    Report->Done = true;
    Report->Shown.notify_all();
  });
  std::unique_lock<std::mutex> Lock(Report->Lock);
  while (!Report->Done && !Terminated())
    Report->Shown.wait_for(Lock, std::chrono::milliseconds(20));
}

void TTransactionThread::InitFrameDataEvent(const std::uint8_t* FrameData, int FrameSize,
                                            bool Sending) {
  if (FrameSize <= 0) return;
  // Whether the event is assigned is read without a lock: handlers are set before the port opens.
  if (!(Sending ? static_cast<bool>(FConnection.OnFrameSend)
                : static_cast<bool>(FConnection.OnFrameReceive)))
    return;
  PFrameData Holder = CreateFrameBuffer(FrameSize);
  std::memcpy(Holder->data(), FrameData, static_cast<std::size_t>(FrameSize));
  FConnection.PostFrameData(Holder, Sending);
}

void TTransactionThread::InspectCapturedFrame(std::uint8_t AServerAddress, std::uint8_t ACommandCode,
                                              TFrameData ACommandData) {
  auto Args = std::make_unique<TInspectCapturedFrameEventArgs>();
  Args->ServerAddress = AServerAddress;
  Args->CommandCode = ACommandCode;
  Args->CommandData = std::move(ACommandData);
  FConnection.PostInspectCapturedFrame(std::move(Args));
}

// ---- client loop -----------------------------------------------------------------------------

void TTransactionThread::ClientExecute() {
  FConnection.ClearDeviceBuffers(true, true);
  FConnection.WaitForData(FConnection.GetRealSilentInterval());
  while (!Terminated()) {
    WaitForWakeUp();
    TModbusTransactionPtr T;
    while (!Terminated() && FetchNextTransaction(T)) {
      try {
        ExecuteTransaction(*T);
        if (T->Info.Address != BroadcastAddress || T->Custom)
          FConnection.PostTransactionComplete(std::move(T));
        T.reset();  // a plain broadcast is never reported
      } catch (...) {
        T.reset();  // not reported: the requester never hears of it again
        HandleException(std::current_exception());
      }
    }
  }
}

void TTransactionThread::ExecuteTransaction(TModbusTransaction& T) {
  T.Info.Retries = 0;
  const int QuerySize = FConnection.EncodeFrame(T.QueryBuffer, FOutputBuffer.data(), FInterimBufferSize);
  const bool ExpectsReply = T.Info.Address != BroadcastAddress || T.Custom;
  for (;;) {
    T.Info.Reply = srNone;
    ++T.Info.Retries;
    InitFrameDataEvent(FOutputBuffer.data(), QuerySize, true);
    FConnection.ClearDeviceBuffers(true, true);
    if (FConnection.SendFrame(FOutputBuffer.data(), QuerySize, FConnection.GetSendTimeout())) {
      if (ExpectsReply) {
        ReceiveReply(T, QuerySize);
      } else {
        Delay(FConnection.GetTurnaroundDelay());
        T.Info.Reply = srNormalReply;
      }
    }
    Delay(FConnection.GetRefetchDelay());
    if (T.Info.Reply == srUnmatchedReply || T.Info.Reply == srExceptionReply ||
        T.Info.Reply == srNormalReply)
      return;
    if (T.Info.Retries >= FConnection.GetMaxRetries()) return;
  }
}

// One attempt's listening: frames from other servers are passed over and the wait starts
// again with the full time-out, without using up an attempt.
void TTransactionThread::ReceiveReply(TModbusTransaction& T, int QuerySize) {
  std::uint8_t* Input = FInputBuffer.data();
  for (;;) {
    int ReplySize = FConnection.ReceiveFrame(Input, FInterimBufferSize, FConnection.GetReceiveTimeout());
    if (FConnection.EchoQueryBeforeReply() &&
        FConnection.IsEcho(FOutputBuffer.data(), QuerySize, Input, ReplySize)) {
      if (ReplySize == QuerySize) {
        ReplySize = FConnection.ReceiveFrame(Input, FInterimBufferSize, FConnection.GetReceiveTimeout());
      } else {
        ReplySize -= QuerySize;
        std::memmove(Input, Input + QuerySize, static_cast<std::size_t>(ReplySize));
      }
    }
    InitFrameDataEvent(Input, ReplySize, false);

    if (ReplySize == 0)
      T.Info.Reply = srNone;
    else if (!FConnection.DecodeFrame(Input, T.ReplyBuffer, ReplySize))
      T.Info.Reply = srInvalidFrame;
    else if (!FConnection.IsExpectedReply(T.QueryBuffer, T.ReplyBuffer, T.Promiscuous))
      T.Info.Reply = srUnexpectedReply;
    else if (!FConnection.CommandsMatch(T.QueryBuffer, T.ReplyBuffer))
      T.Info.Reply = srUnmatchedReply;
    else if (FConnection.IsExceptionReply(T.ReplyBuffer)) {
      T.Info.Reply = srExceptionReply;
      FConnection.AcquireServerException(T.ReplyBuffer, T.Info.Exception, T.Info.ExceptionCode);
    } else
      T.Info.Reply = srNormalReply;

    if (T.Info.Reply != srUnexpectedReply) return;
  }
}
