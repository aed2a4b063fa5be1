// The connection's internal window: messages posted by the worker thread through the
// main-thread seam and handled on the main thread by InternalWndProc. What a message
// carries belongs to it until the window has handled it, and is freed in every case:
// also when the connection is destroyed before the message arrives, or when the
// queue is dropped without running it.
#include <algorithm>
#include <atomic>

#include "ModLinkConsts.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "TransactionThread.h"

namespace {
void FreeMessageCarrier(std::uint32_t Msg, std::intptr_t LParam) noexcept {
  if (LParam == 0) return;
  switch (Msg) {
    case UM_TRANSACTIONCOMPLETE:
      delete reinterpret_cast<TModbusTransaction*>(LParam);
      break;
    case UM_FRAMEDATA: {
      PFrameData Holder = reinterpret_cast<PFrameData>(LParam);
      DestroyFrameBuffer(Holder);
      break;
    }
    case UM_INSPECTCAPTUREDFRAME:
      delete reinterpret_cast<TInspectCapturedFrameEventArgs*>(LParam);
      break;
    default:
      break;
  }
}

// A message on its way; frees its carrier unless the window took it over.
struct TPostedMessage {
  TMessage Message;
  explicit TPostedMessage(const TMessage& AMessage) : Message(AMessage) {}
  TPostedMessage(const TPostedMessage&) = delete;
  TPostedMessage& operator=(const TPostedMessage&) = delete;
  ~TPostedMessage() { FreeMessageCarrier(Message.Msg, Message.LParam); }
};
}  // namespace

void TModbusConnection::PostMessage(std::uint32_t Msg, std::uintptr_t WParam,
                                    std::intptr_t LParam) {
  TMessage Message;
  Message.Msg = Msg;
  Message.WParam = WParam;
  Message.LParam = LParam;
  auto Posted = std::make_shared<TPostedMessage>(Message);
  FMainThread->Post([Window = FInternalWindow, Posted] {
    TMessage Taken = Posted->Message;
    Posted->Message.LParam = 0;
    if (TModbusConnection* Owner = Window->Owner.load())
      Owner->InternalWndProc(Taken);
    else
      FreeMessageCarrier(Taken.Msg, Taken.LParam);
  });
}

void TModbusConnection::PostTransactionComplete(TModbusTransactionPtr Transaction) {
  if (!Transaction) return;
  PostMessage(UM_TRANSACTIONCOMPLETE, 0, reinterpret_cast<std::intptr_t>(Transaction.release()));
}

void TModbusConnection::PostFrameData(PFrameData Holder, bool Sending) {
  if (!Holder) return;
  PostMessage(UM_FRAMEDATA, Sending ? 1 : 0, reinterpret_cast<std::intptr_t>(Holder));
}

void TModbusConnection::PostInspectCapturedFrame(
    std::unique_ptr<TInspectCapturedFrameEventArgs> Args) {
  if (!Args) return;
  PostMessage(UM_INSPECTCAPTUREDFRAME, 0, reinterpret_cast<std::intptr_t>(Args.release()));
}

TModbusClient* TModbusConnection::FindClientFromTransaction(
    const TModbusTransaction& Transaction) const {
  TModbusClient* Originator = Transaction.Originator;
  if (!Originator ||
      std::find(FClientList.begin(), FClientList.end(), Originator) == FClientList.end())
    return nullptr;
  return Originator->ServerAddress() == Transaction.Info.Address ? Originator : nullptr;
}

void TModbusConnection::InternalWndProc(TMessage& Message) {
  const std::intptr_t Carrier = Message.LParam;
  switch (Message.Msg) {
    case UM_TRANSACTIONCOMPLETE: {
      Message.LParam = 0;
      TModbusTransactionPtr Transaction(reinterpret_cast<TModbusTransaction*>(Carrier));
      try {
        // A completion that arrives after the port was closed, or for a client that
        // has gone or changed its address, is dropped.
        TModbusClient* Client = Transaction ? FindClientFromTransaction(*Transaction) : nullptr;
        if (Client && FActive && !FDestroying) Client->DoneTransaction(*Transaction);
      } catch (...) {
        Transaction.reset();
        HandleApplicationException(std::current_exception());
      }
      break;
    }
    case UM_FRAMEDATA: {
      Message.LParam = 0;
      PFrameData Holder = reinterpret_cast<PFrameData>(Carrier);
      try {
        if (Holder) {
          if (Message.WParam != 0)
            DoFrameSend(*Holder);
          else
            DoFrameReceive(*Holder);
        }
      } catch (...) {
        DestroyFrameBuffer(Holder);
        HandleApplicationException(std::current_exception());
      }
      DestroyFrameBuffer(Holder);
      break;
    }
    case UM_INSPECTCAPTUREDFRAME: {
      Message.LParam = 0;
      std::unique_ptr<TInspectCapturedFrameEventArgs> Args(
          reinterpret_cast<TInspectCapturedFrameEventArgs*>(Carrier));
      try {
        if (Args) DoInspectCapturedFrame(Args->ServerAddress, Args->CommandCode, Args->CommandData);
      } catch (...) {
        Args.reset();
        HandleApplicationException(std::current_exception());
      }
      break;
    }
    default:
      Message.Result = 0;  // nothing else is handled by this window
      break;
  }
}
