// The worker's loops for a connection opened as a slave (answer the queries of a master)
// or as a line monitor (report every frame seen, never transmit). Both wait for frames
// without a time-out; closing the port signals the break event, which ends the wait.
// Each frame received (valid or not) and each reply sent goes to the frame hook.
#include <algorithm>
#include <system_error>

#include "ModLinkConsts.h"
#include "ModbusConnection.h"
#include "TransactionThread.h"

namespace {

// After a failure of the device (for example one that has gone away) the loops pause
// this long before listening again, so a lasting fault is reported at a steady pace
// instead of spinning the worker. Closing the port ends the pause at once.
constexpr std::uint32_t FailurePauseMs = 100;

}  // namespace

// Waits for the next frame on the line and decodes it into Frame. A frame that does not
// decode (noise, a wrong check, the empty receive that a close ends) is reported to the
// application as discarded.
bool TTransactionThread::ReceiveValidFrame(TModbusBuffer& Frame) {
  const int Size = FConnection.ReceiveFrame(FInputBuffer.data(), FInterimBufferSize,
                                            TModbusConnection::InfiniteTimeout);
  // A monitor's noise came before the frame (or before the silence that ended the receive).
  if (!FConnection.FLineNoise.Empty()) EmitLineNoise();
  InitFrameDataEvent(FInputBuffer.data(), Size, false);
  const TDecodeResult Decoded = FFraming.Decode(FInputBuffer.data(), Frame, Size);
  if (Size > 0)
    EmitFrame(TFrameDirection::fdReceived, FInputBuffer.data(), Size, OutcomeOf(Decoded));
  if (Decoded == TDecodeResult::drOk) return true;
  // The empty receive that a close ends is reported too, once the worker has ended.
  RunOnMainThread([this] { FConnection.DoInvalidFrameDiscard(); }, true);
  return false;
}

void TTransactionThread::EmitLineNoise() {
  TLineNoise& Noise = FConnection.FLineNoise;
  const TFrameHook& Hook = FConnection.FrameHook();
  if (Hook.Active()) {
    TFrameRecord Record;
    Record.Time = std::chrono::steady_clock::now();
    Record.Direction = TFrameDirection::fdReceived;
    Record.Framing = FFraming.LineFraming();
    Record.Outcome = TFrameOutcome::foLengthError;
    Record.Bytes = Noise.Start;
    Record.NoiseBytes = Noise.Count;
    Hook.Emit(Record);
  }
  Noise.Clear();
}

void TTransactionThread::ServerExecute() {
  FConnection.ClearDeviceBuffers(true, true);
  FConnection.WaitForData(FConnection.GetRealSilentInterval());
  // One transaction serves every query: its query is decoded anew and its reply emptied.
  TModbusTransaction Transaction(FFraming.MaximumFrameSize());

  while (!Terminated()) {
    try {
      if (!ReceiveValidFrame(Transaction.QueryBuffer)) continue;
      Transaction.Info.Address = FFraming.AcquireServerAddress(Transaction.QueryBuffer);
      Transaction.ReplyBuffer.SetSize(0);

      // The application's handlers run on the main thread; the reply goes out only after
      // they have all returned. A query still waiting for them when the port closes is dropped.
      if (!RunOnMainThread(
              [this, &Transaction] { FConnection.ProcessRemoteTransaction(Transaction); }))
        continue;

      if (Transaction.Info.Address == BroadcastAddress) continue;  // never answered
      // With no server at that address the reply is empty and nothing reaches the line.
      const int ReplySize =
          FFraming.Encode(Transaction.ReplyBuffer, FOutputBuffer.data(), FInterimBufferSize);
      InitFrameDataEvent(FOutputBuffer.data(), ReplySize, true);
      // With frames ended by their length, what followed the query on the line (another
      // slave's reply) is the next frame: it is dropped only when a reply is to go out.
      if (ReplySize > 0 || !FFraming.EndsByLength()) FConnection.ClearDeviceBuffers(true, true);
      const bool Sent =
          FConnection.SendFrame(FOutputBuffer.data(), ReplySize, FConnection.GetSendTimeout());
      if (ReplySize > 0)
        EmitFrame(TFrameDirection::fdSent, FOutputBuffer.data(), ReplySize,
                  Sent ? TFrameOutcome::foOk : TFrameOutcome::foTimeout);
    } catch (const std::system_error&) {
      HandleException(std::current_exception());
      if (!Terminated()) FConnection.BreakEvent().WaitFor(FailurePauseMs);
    } catch (...) {
      HandleException(std::current_exception());
    }
  }
}

void TTransactionThread::MonitorExecute() {
  FConnection.ClearDeviceBuffers(true, true);
  FConnection.WaitForData(FConnection.GetRealSilentInterval());
  TModbusBuffer Frame(FFraming.MaximumFrameSize());

  while (!Terminated()) {
    try {
      if (!ReceiveValidFrame(Frame)) continue;
      // Address, function code, then the data up to the error check. The smallest frame a
      // monitor decodes has no data at all.
      const std::uint8_t* Bytes = Frame.StartPtr();
      const int DataSize = std::max(0, Frame.Size() - 2 - FFraming.ErrorCheckSize());
      InspectCapturedFrame(Bytes[0], Bytes[1], TFrameData(Bytes + 2, Bytes + 2 + DataSize));
      // No purge here: a monitor never transmits, and whatever arrived meanwhile is the next
      // frame on the line (typically the reply to the query just captured), not garbage.
    } catch (const std::system_error&) {
      HandleException(std::current_exception());
      if (!Terminated()) FConnection.BreakEvent().WaitFor(FailurePauseMs);
    } catch (...) {
      HandleException(std::current_exception());
    }
  }
}
