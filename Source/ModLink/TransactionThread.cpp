#include "TransactionThread.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <system_error>
#include <utility>

#include "Delay.h"
#include "ModLinkError.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "platform/MainThread.h"

// A call the worker hands to the main thread. It starts there only while still pending:
// once the worker has given it up (the thread is being stopped), it never runs.
struct TTransactionThread::TMainCall {
  enum TState { Pending, Running, Done, Abandoned };
  std::function<void()> Fn;
  std::mutex Lock;
  std::condition_variable Changed;
  TState State = Pending;
  std::exception_ptr Error;

  void Run() {
    {
      std::lock_guard<std::mutex> Guard(Lock);
      if (State != Pending) return;
      State = Running;
    }
    std::exception_ptr Raised;
    try {
      Fn();
    } catch (...) {
      Raised = std::current_exception();
    }
    std::lock_guard<std::mutex> Guard(Lock);
    Error = std::move(Raised);
    State = Done;
    Changed.notify_all();
  }
};

TTransactionThread::TTransactionThread(TModbusConnection& AConnection)
    : FConnection(AConnection),
      FFraming(AConnection.Framing()),
      FInputBuffer(static_cast<std::size_t>(FFraming.InterimBufferSize())),
      FOutputBuffer(static_cast<std::size_t>(FFraming.InterimBufferSize())),
      FInterimBufferSize(FFraming.InterimBufferSize()),
      FThread(AConnection.WorkerThread()) {
  // Started last, once every member the loop touches exists.
  FThread.Start([this] { Run(); });
}

TTransactionThread::~TTransactionThread() {
  FTerminated.store(true, std::memory_order_release);
  if (FConnection.ConnectionMode() == cmClient)
    FEvent.Set();
  else
    FConnection.SignalBreak();
  // A worker waiting for the main thread gives its call up (unless it has started).
  if (std::shared_ptr<TMainCall> Call = [this] {
        std::lock_guard<std::mutex> Guard(FCallLock);
        return FPendingCall;
      }()) {
    std::lock_guard<std::mutex> Guard(Call->Lock);
    Call->Changed.notify_all();
  }
  std::this_thread::yield();
  FThread.Join();
  if (FDeferredCall && FConnection.MainThread().IsMainThread()) {
    try {
      FDeferredCall->Fn();
    } catch (...) {
      HandleApplicationException(std::current_exception());
    }
  }
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
  return static_cast<int>(std::count_if(
      FTransactionQueue.begin(), FTransactionQueue.end(),
      [Address](const TModbusTransactionPtr& T) { return T->Info.Address == Address; }));
}

void TTransactionThread::SetPriority(int Priority) {
  std::lock_guard<std::mutex> Guard(FPriorityLock);
  FPriority = Priority;
  if (Priority != tpNormal) FPriorityChanged = true;
  if (FNativeThreadId != 0) ApplyThreadPriority(FNativeThreadId, Priority);
}

// ---- the worker ------------------------------------------------------------------------------

bool TTransactionThread::FetchNextTransaction(TModbusTransactionPtr& Transaction) {
  std::lock_guard<std::mutex> Lock(FQueueLock);
  if (FTransactionQueue.empty()) return false;
  Transaction = std::move(FTransactionQueue.front());
  FTransactionQueue.pop_front();
  return true;
}

void TTransactionThread::WaitForWakeUp() {
  FEvent.WaitFor(TOsEvent::InfiniteTimeout);
}

void TTransactionThread::Run() {
  {
    std::lock_guard<std::mutex> Guard(FPriorityLock);
    FNativeThreadId = CurrentNativeThreadId();
    // A priority set before the thread knew its id is applied now; failure leaves the default.
    if (FPriority != tpNormal) ApplyThreadPriority(FNativeThreadId, FPriority);
  }
  try {
    Execute();
  } catch (...) {
    HandleException(std::current_exception());
  }
  // A thread whose priority was changed may not get the normal one back (lowering the
  // nice value needs a privilege): it ends, and the next worker starts on a new one.
  std::lock_guard<std::mutex> Guard(FPriorityLock);
  FNativeThreadId = 0;
  if (FPriorityChanged) FThread.RetireAfterJob();
}

void TTransactionThread::Execute() {
  switch (FConnection.ConnectionMode()) {
    case cmClient:
      ClientExecute();
      break;
    case cmServer:
      ServerExecute();
      break;
    case cmMonitor:
      MonitorExecute();
      break;
    default:
      InternalError();
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

bool TTransactionThread::RunOnMainThread(std::function<void()> Fn, bool RunAfterStop) {
  auto Call = std::make_shared<TMainCall>();
  Call->Fn = std::move(Fn);
  {
    std::lock_guard<std::mutex> Guard(FCallLock);
    FPendingCall = Call;
  }
  FConnection.MainThread().Post([Call] { Call->Run(); });
  std::unique_lock<std::mutex> Wait(Call->Lock);
  while (Call->State != TMainCall::Done) {
    if (Terminated() && Call->State == TMainCall::Pending) {
      Call->State = TMainCall::Abandoned;
      if (RunAfterStop) FDeferredCall = Call;
      break;
    }
    Call->Changed.wait(Wait);  // woken by the call, or by the destructor
  }
  const bool Ran = Call->State == TMainCall::Done;
  // Taken out of the call, so that the exception is released on this thread, where it is
  // used last.
  std::exception_ptr Error = std::move(Call->Error);
  Wait.unlock();
  {
    std::lock_guard<std::mutex> Guard(FCallLock);
    FPendingCall.reset();
  }
  if (Error) std::rethrow_exception(Error);
  return Ran;
}

void TTransactionThread::InitFrameDataEvent(const std::uint8_t* FrameData, int FrameSize,
                                            bool Sending) {
  if (FrameSize <= 0) return;
  if (!(Sending ? FConnection.OnFrameSend.Assigned() : FConnection.OnFrameReceive.Assigned()))
    return;
  PFrameData Holder = CreateFrameBuffer(FrameSize);
  std::memcpy(Holder->data(), FrameData, static_cast<std::size_t>(FrameSize));
  FConnection.PostFrameData(Holder, Sending);
}

void TTransactionThread::EmitFrame(TFrameDirection Direction, const std::uint8_t* Bytes, int Size,
                                   TFrameOutcome Outcome, std::chrono::nanoseconds ResponseTime) {
  const TFrameHook& Hook = FConnection.FrameHook();
  if (!Hook.Active()) return;
  TFrameRecord Record;
  Record.Time = TClock::now();
  Record.Direction = Direction;
  Record.Framing = FFraming.LineFraming();
  Record.Outcome = Outcome;
  if (Size > 0) Record.Bytes.assign(Bytes, Bytes + Size);
  Record.ResponseTime = ResponseTime;
  Hook.Emit(Record);
}

void TTransactionThread::InspectCapturedFrame(std::uint8_t AServerAddress,
                                              std::uint8_t ACommandCode, TFrameData ACommandData) {
  auto Args = std::make_unique<TInspectCapturedFrameEventArgs>();
  Args->ServerAddress = AServerAddress;
  Args->CommandCode = ACommandCode;
  Args->CommandData = std::move(ACommandData);
  FConnection.PostInspectCapturedFrame(std::move(Args));
}

// ---- client loop -----------------------------------------------------------------------------

namespace {
// How a received frame ended, for the frame hook.
TFrameOutcome ReplyOutcome(TServerReply Reply, TDecodeResult Decoded) {
  switch (Reply) {
    case srNone:
      return TFrameOutcome::foTimeout;
    case srInvalidFrame:
      return OutcomeOf(Decoded);
    case srUnexpectedReply:
    case srUnmatchedReply:
      return TFrameOutcome::foUnmatched;
    case srExceptionReply:
      return TFrameOutcome::foException;
    case srNormalReply:
      break;
  }
  return TFrameOutcome::foOk;
}
}  // namespace

void TTransactionThread::ClientExecute() {
  // The line must be quiet for a frame gap before the first query. That quiet is counted
  // from the purge at open when nothing has come in since, else from this purge; so the
  // time the worker and the first request take to arrive counts, and a poll that opens
  // the port for each request does not wait a whole silence twice.
  // A line that fails here (gone already, a stream that cannot connect again) is reported,
  // and the worker stays to carry out the queries, each of which meets the failure anew.
  bool QuietSinceOpen = false;
  try {
    QuietSinceOpen = !FConnection.WaitForData(0);
  } catch (const std::system_error&) {
    HandleException(std::current_exception());
  }
  FConnection.ClearDeviceBuffers(true, true);
  const TClock::time_point QuietSince = QuietSinceOpen ? FConnection.OpenedAt() : TClock::now();
  bool FirstQuery = true;
  while (!Terminated()) {
    WaitForWakeUp();
    TModbusTransactionPtr T;
    while (!Terminated() && FetchNextTransaction(T)) {
      try {
        if (std::exchange(FirstQuery, false)) FConnection.WaitForQuietLine(QuietSince);
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
  const int QuerySize = FFraming.Encode(T.QueryBuffer, FOutputBuffer.data(), FInterimBufferSize);
  const bool ExpectsReply = T.Info.Address != BroadcastAddress || T.Custom;
  for (;;) {
    T.Info.Reply = srNone;
    ++T.Info.Retries;
    InitFrameDataEvent(FOutputBuffer.data(), QuerySize, true);
    FConnection.ClearDeviceBuffers(true, true);
    const bool Sent =
        FConnection.SendFrame(FOutputBuffer.data(), QuerySize, FConnection.GetSendTimeout());
    const TClock::time_point SentAt = TClock::now();
    // A query the line did not take completely within the send time-out counts as timed out.
    EmitFrame(TFrameDirection::fdSent, FOutputBuffer.data(), QuerySize,
              Sent ? TFrameOutcome::foOk : TFrameOutcome::foTimeout);
    if (Sent) {
      if (ExpectsReply) {
        ReceiveReply(T, QuerySize, SentAt);
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
void TTransactionThread::ReceiveReply(TModbusTransaction& T, int QuerySize,
                                      TClock::time_point SentAt) {
  std::uint8_t* Input = FInputBuffer.data();
  for (;;) {
    int ReplySize =
        FConnection.ReceiveFrame(Input, FInterimBufferSize, FConnection.GetReceiveTimeout());
    if (FConnection.EchoQueryBeforeReply() &&
        FFraming.IsEcho(FOutputBuffer.data(), QuerySize, Input, ReplySize)) {
      if (ReplySize == QuerySize) {
        ReplySize =
            FConnection.ReceiveFrame(Input, FInterimBufferSize, FConnection.GetReceiveTimeout());
      } else {
        ReplySize -= QuerySize;
        std::memmove(Input, Input + QuerySize, static_cast<std::size_t>(ReplySize));
      }
    }
    InitFrameDataEvent(Input, ReplySize, false);
    const TDecodeResult Decoded =
        ReplySize == 0 ? TDecodeResult::drOk : FFraming.Decode(Input, T.ReplyBuffer, ReplySize);
    T.Info.Reply = ClassifyReply(T, ReplySize, Decoded);
    EmitFrame(TFrameDirection::fdReceived, Input, ReplySize, ReplyOutcome(T.Info.Reply, Decoded),
              TClock::now() - SentAt);
    if (T.Info.Reply != srUnexpectedReply) return;
  }
}

TServerReply TTransactionThread::ClassifyReply(TModbusTransaction& T, int ReplySize,
                                               TDecodeResult Decoded) const {
  if (ReplySize == 0) return srNone;
  if (Decoded != TDecodeResult::drOk) return srInvalidFrame;
  if (!FFraming.IsExpectedReply(T.QueryBuffer, T.ReplyBuffer, T.Promiscuous))
    return srUnexpectedReply;
  if (!FFraming.CommandsMatch(T.QueryBuffer, T.ReplyBuffer)) return srUnmatchedReply;
  if (!FFraming.IsExceptionReply(T.ReplyBuffer)) return srNormalReply;
  FFraming.AcquireServerException(T.ReplyBuffer, T.Info.Exception, T.Info.ExceptionCode);
  return srExceptionReply;
}
