// The worker's loops for a connection opened as a slave (answer the queries of a master)
// or as a line monitor (report every frame seen, never transmit). Both wait for frames
// without a time-out; closing the port signals the break event, which ends the wait.
#include <algorithm>
#include <system_error>

#include "ModLinkConsts.h"
#include "ModbusConnection.h"
#include "TransactionThread.h"
#include "platform/MainThread.h"

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
  InitFrameDataEvent(FInputBuffer.data(), Size, false);
  if (FConnection.DecodeFrame(FInputBuffer.data(), Frame, Size)) return true;
  FConnection.MainThread().Synchronize([this] { FConnection.DoInvalidFrameDiscard(); });
  return false;
}

void TTransactionThread::ServerExecute() {
  FConnection.ClearDeviceBuffers(true, true);
  FConnection.WaitForData(FConnection.GetRealSilentInterval());
  // One transaction serves every query: its query is decoded anew and its reply emptied.
  TModbusTransaction Transaction(FConnection.DetermineMaximumFrameSize());
  TMainThread& Main = FConnection.MainThread();

  while (!Terminated()) {
    try {
      if (!ReceiveValidFrame(Transaction.QueryBuffer)) continue;
      Transaction.Info.Address = FConnection.AcquireServerAddress(Transaction.QueryBuffer);
      Transaction.ReplyBuffer.SetSize(0);

      // The application's handlers run on the main thread; the reply goes out only after
      // they have all returned.
      Main.Synchronize([this, &Transaction] { FConnection.ProcessRemoteTransaction(Transaction); });

      if (Transaction.Info.Address == BroadcastAddress) continue;  // never answered
      // With no server at that address the reply is empty and nothing reaches the line.
      const int ReplySize =
          FConnection.EncodeFrame(Transaction.ReplyBuffer, FOutputBuffer.data(), FInterimBufferSize);
      InitFrameDataEvent(FOutputBuffer.data(), ReplySize, true);
      FConnection.ClearDeviceBuffers(true, true);
      FConnection.SendFrame(FOutputBuffer.data(), ReplySize, FConnection.GetSendTimeout());
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
  TModbusBuffer Frame(FConnection.DetermineMaximumFrameSize());

  while (!Terminated()) {
    try {
      if (!ReceiveValidFrame(Frame)) continue;
      // Address, function code, then the data up to the error check. The smallest frame a
      // monitor decodes has no data at all.
      const std::uint8_t* Bytes = Frame.StartPtr();
      const int DataSize = std::max(0, Frame.Size() - 2 - FConnection.DetermineErrorCheckSize());
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
