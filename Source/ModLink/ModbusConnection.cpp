// TModbusConnection: construction, settings, open and close, lines, registries
// and the transaction queue.
#include "ModbusConnection.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>

#include "ModLinkError.h"
#include "ModbusClient.h"
#include "ModbusServer.h"
#include "SystemClockResolutionEnhancer.h"
#include "TransactionThread.h"

using namespace ModLinkMessages;

namespace {
template <typename T>
void CheckValid(T Value) {
  if (!IsValid(Value)) InternalError();
}
// Runs one step of setting up the device; a failure of the device is raised as the
// documented Message, with the system's error nested in it.
template <typename TStep>
void DeviceStep(const char* Message, TStep&& Step) {
  try {
    Step();
  } catch (const std::system_error&) {
    std::throw_with_nested(EModLinkError(Message));
  }
}
}  // namespace

TModbusConnection::TModbusConnection() : FMainThread(&::MainThread()) {
  // The library's waits rely on a fine timer; a machine without one cannot run it.
  GSystemClockResolutionEnhancer();
  FInternalWindow = std::make_shared<TWindow>(this);
}

TModbusConnection::~TModbusConnection() {
  FDestroying = true;
  try {
    Close();
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
  if (FThread || FDevice->IsOpen()) {
    // A close handler raised: release the port anyway.
    try {
      InternalClose();
    } catch (...) {
    }
    FActive = false;
  }
  FInternalWindow->Owner.store(nullptr);  // messages still on their way only free their carriers
  // The lists are going away: attached clients and servers forget this connection
  // without unregistering.
  const auto Clients = std::move(FClientList);
  const auto Servers = std::move(FServerList);
  for (TModbusClient* Client : Clients) Client->ConnectionDestroyed(this);
  for (TModbusServer* Server : Servers) Server->ConnectionDestroyed(*this);
}

// ---- State ------------------------------------------------------------------

void TModbusConnection::SetActive(bool Value) {
  if (FLoading) {
    FStreamedActive = Value;
    return;
  }
  if (Value == FActive) return;
  if (Value) {
    DoBeforeOpen();
    InternalOpen();
  } else {
    DoBeforeClose();
    InternalClose();
  }
  // The port has changed state by now: a failing after-event must not leave Active
  // telling otherwise (an open port nobody could close, or a closed one in use).
  try {
    if (Value)
      DoAfterOpen();
    else
      DoAfterClose();
  } catch (...) {
    FActive = Value;
    throw;
  }
  FActive = Value;
}

void TModbusConnection::Loaded() {
  FLoading = false;
  try {
    SetActive(FStreamedActive);
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
}

void TModbusConnection::CheckClosed() const {
  if (FActive && !FLoading) ModLinkError(SConnectionActive);
}

void TModbusConnection::CheckOpened() const {
  if (!FActive || FLoading) ModLinkError(SConnectionNotActive);
}

void TModbusConnection::CheckFlowControl(TFlowControls AFlowControls) const {
  if (std::find(AFlowControls.begin(), AFlowControls.end(), FFlowControl) == AFlowControls.end())
    ModLinkError(SFlowControlInvalid);
}

void TModbusConnection::SetMainThread(TMainThread& Value) {
  if (&Value == FMainThread) return;
  CheckClosed();
  FMainThread = &Value;
}

// ---- Open and close -----------------------------------------------------------

void TModbusConnection::InternalOpen() {
  // A line that cannot be opened raises the device's own error, which names the port
  // and the system's reason: "Could not open serial port ...", "Could not connect to ...".
  if (OverTcpStream()) {
    FTcpStream.SetConnectTimeout(FConnectTimeout);
    FTcpStream.Open(FPort);
    FDevice = &FTcpStream;
  } else {
    OpenSerialDevice();
  }
  try {
    UpdateRealSilentInterval();
    // A break signalled for an earlier worker must not end the new one's first wait.
    FBreakEvent.Reset();
    // The line's quiet is counted from here: the worker may take a while to start.
    ClearDeviceBuffers(true, true);
    FOpenedAt = std::chrono::steady_clock::now();
    FPendingInput.clear();
    FLastQuery = {};
    FPendingInput.reserve(static_cast<std::size_t>(FFraming.InterimBufferSize()));
    FThread = std::make_unique<TTransactionThread>(*this);
    FThread->SetPriority(static_cast<int>(FThreadPriority));
  } catch (...) {
    InternalClose();
    throw;
  }
}

void TModbusConnection::OpenSerialDevice() {
  if (FFlowControl == fcDtrDsr && !TSerialDevice::SupportsDtrDsrFlowControl())
    ModLinkError(SDtrDsrNotSupported);
  if (FHookExistingPort)
    FSerialDevice.Attach(DoGetHookedPortHandle());
  else
    FSerialDevice.Open(FPort);
  FDevice = &FSerialDevice;
  try {
    DeviceStep(SFailedInitBuffers,
               [this] { FSerialDevice.SetQueueSizes(FInputBufferSize, FOutputBufferSize); });
    DeviceStep(SFailedInitTimeouts, [this] { FSerialDevice.SetRawTimeouts(); });
    DeviceStep(SFailedInitEventMask, [this] { FSerialDevice.CheckWaitable(); });
    UpdateDCB();
  } catch (...) {
    FSerialDevice.Close();
    throw;
  }
}

void TModbusConnection::InternalClose() {
  // The worker goes first: it may be using the device until it has stopped.
  std::unique_ptr<TTransactionThread> Worker = std::move(FThread);
  Worker.reset();
  FDevice->Close();  // a hooked descriptor stays open: the application owns it
}

std::uint32_t TModbusConnection::LineBitRate() const {
  CheckValid(FBaudRate);
  return FBaudRate == brCustom ? FCustomBaudRate : CBaudRates[FBaudRate];
}

void TModbusConnection::UpdateDCB() {
  // A TCP stream has no line settings.
  if (FDevice != &FSerialDevice || !FSerialDevice.IsOpen()) return;
  CheckValid(FDataBits);
  CheckValid(FParity);
  CheckValid(FStopBits);
  CheckValid(FFlowControl);
  TLineSettings Line;
  Line.BaudRate = LineBitRate();
  Line.DataBits = static_cast<int>(CDataBits[FDataBits]);
  Line.Parity = FParity == psNone ? 'N' : FParity == psOdd ? 'O' : 'E';
  Line.StopBits = static_cast<int>(CStopBits[FStopBits]);
  Line.RtsCtsFlowControl = FFlowControl == fcRtsCts;
  Line.DtrDsrFlowControl = FFlowControl == fcDtrDsr;
  // With RTS toggling the send raises RTS around each frame; it rests low.
  Line.RaiseRTS = FRTSEnabled && (FFlowControl == fcNone || FFlowControl == fcDtrDsr);
  Line.RaiseDTR = FDTREnabled && FFlowControl != fcDtrDsr;
  DeviceStep(SFailedUpdateDCB, [&] { FSerialDevice.ApplyLineSettings(Line); });
}

void TModbusConnection::UpdateRealSilentInterval() {
  CheckValid(FTransmissionMode);
  CheckValid(FDataBits);
  CheckValid(FStopBits);
  if (OverTcpStream()) {
    // No bit rate to count characters at; no line either that must fall quiet before
    // the first query.
    std::unique_lock Guard(FLock);
    FRealSilentInterval = std::max(FNetworkSilentInterval, MinimumRealSilentInterval);
    FInterFrameGapUs = 0;
    return;
  }
  // SilentInterval counts characters: data + stop + parity bits each (the start
  // bit is not counted). 64-bit so that a large count cannot wrap.
  const std::uint64_t BitsPerChar =
      CDataBits[FDataBits] + CStopBits[FStopBits] + (FParity != psNone ? 1 : 0);
  const std::uint32_t Rate = LineBitRate();
  const auto Clamped = [](double Value) {
    return Value >= static_cast<double>(std::numeric_limits<std::uint32_t>::max())
               ? std::numeric_limits<std::uint32_t>::max()
               : static_cast<std::uint32_t>(Value);
  };
  // The gap itself, without the floor that only serves to tell a frame's end reliably.
  const std::uint32_t GapUs =
      Rate == 0 ? MinimumRealSilentInterval * 1000
                : Clamped(std::ceil(
                      static_cast<double>(BitsPerChar * FSilentInterval * 1000000ull) / Rate));
  std::uint32_t Interval = FSilentInterval;
  if (FTransmissionMode == tmRTU) {
    if (Rate == 0) {
      Interval = MinimumRealSilentInterval;  // a rate the device refuses anyway
    } else {
      Interval =
          Clamped(std::ceil(static_cast<double>(BitsPerChar * FSilentInterval * 1000ull) / Rate));
    }
  }
  std::unique_lock Guard(FLock);
  FRealSilentInterval = std::max(Interval, MinimumRealSilentInterval);
  FInterFrameGapUs =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(GapUs, FRealSilentInterval * 1000ull));
}

// ---- Settings -------------------------------------------------------------------

void TModbusConnection::ReprogramLine() {
  if (!LiveReprogramAllowed()) return;
  // The silent interval follows the stored settings even when the device refuses them.
  try {
    UpdateDCB();
  } catch (...) {
    UpdateRealSilentInterval();
    throw;
  }
  UpdateRealSilentInterval();
}

void TModbusConnection::SetPort(const TSerialPort& Value) {
  if (Value == FPort) return;
  CheckClosed();
  FPort = Value;
  RebuildFraming();
}

void TModbusConnection::SetBaudRate(TBaudRate Value) {
  if (Value == FBaudRate) return;
  CheckValid(Value);
  FBaudRate = Value;
  ReprogramLine();
}

void TModbusConnection::SetCustomBaudRate(std::uint32_t Value) {
  if (Value == FCustomBaudRate) return;  // like every setter: the current value changes nothing
  FCustomBaudRate = Value;
  FBaudRate = brCustom;
  ReprogramLine();
}

void TModbusConnection::SetDataBits(TDataBits Value) {
  if (Value == FDataBits) return;
  CheckValid(Value);
  FDataBits = Value;
  ReprogramLine();
}

void TModbusConnection::SetParity(TParityScheme Value) {
  if (Value == FParity) return;
  CheckValid(Value);
  FParity = Value;
  ReprogramLine();
}

void TModbusConnection::SetStopBits(TStopBits Value) {
  if (Value == FStopBits) return;
  CheckValid(Value);
  FStopBits = Value;
  ReprogramLine();
}

void TModbusConnection::SetFlowControl(TFlowControl Value) {
  if (Value == FFlowControl) return;
  CheckClosed();
  CheckValid(Value);
  FFlowControl = Value;
}

void TModbusConnection::SetRTSEnabled(bool Value) {
  if (Value == FRTSEnabled) return;
  CheckClosed();
  FRTSEnabled = Value;
}

void TModbusConnection::SetDTREnabled(bool Value) {
  if (Value == FDTREnabled) return;
  CheckClosed();
  FDTREnabled = Value;
}

void TModbusConnection::SetTransmissionMode(TTransmissionMode Value) {
  if (Value == FTransmissionMode) return;
  CheckClosed();
  CheckValid(Value);
  FTransmissionMode = Value;
  RebuildFraming();
}

void TModbusConnection::SetConnectionMode(TConnectionMode Value) {
  if (Value == FConnectionMode) return;
  CheckClosed();
  CheckValid(Value);
  FConnectionMode = Value;
  RebuildFraming();
}

void TModbusConnection::SetFrameEndByLength(bool Value) {
  if (Value == FFrameEndByLength) return;
  CheckClosed();
  FFrameEndByLength = Value;
  RebuildFraming();
}

// A TCP stream has no silence to tell where a frame ends: its length must.
void TModbusConnection::RebuildFraming() {
  FFraming =
      TModbusFraming(FTransmissionMode, FConnectionMode, FFrameEndByLength || OverTcpStream());
}

void TModbusConnection::SetHookExistingPort(bool Value) {
  if (Value == FHookExistingPort) return;
  CheckClosed();
  FHookExistingPort = Value;
  RebuildFraming();
}

void TModbusConnection::SetInputBufferSize(int Value) {
  if (Value == FInputBufferSize) return;
  CheckClosed();
  FInputBufferSize = Value;
}

void TModbusConnection::SetOutputBufferSize(int Value) {
  if (Value == FOutputBufferSize) return;
  CheckClosed();
  FOutputBufferSize = Value;
}

void TModbusConnection::SetSilentInterval(std::uint32_t Value) {
  if (Value == FSilentInterval) return;
  FSilentInterval = Value;
  if (LiveReprogramAllowed()) UpdateRealSilentInterval();
}

void TModbusConnection::SetNetworkSilentInterval(std::uint32_t Value) {
  if (Value == FNetworkSilentInterval) return;
  FNetworkSilentInterval = Value;
  if (LiveReprogramAllowed()) UpdateRealSilentInterval();
}

void TModbusConnection::SetConnectTimeout(std::uint32_t Value) {
  FConnectTimeout = Value;
  FTcpStream.SetConnectTimeout(Value);  // the worker may connect again while open
}

void TModbusConnection::SetThreadPriority(TThreadPriority Value) {
  if (Value == FThreadPriority) return;
  if (Value > tpTimeCritical) InternalError();
  FThreadPriority = Value;
  if (LiveReprogramAllowed() && FThread) FThread->SetPriority(static_cast<int>(Value));
}

void TModbusConnection::SetSendTimeout(std::uint32_t Value) {
  std::unique_lock Guard(FLock);
  FSendTimeout = Value;
}

void TModbusConnection::SetReceiveTimeout(std::uint32_t Value) {
  std::unique_lock Guard(FLock);
  FReceiveTimeout = Value;
}

void TModbusConnection::SetMaxRetries(TMaxRetries Value) {
  if (Value == 0) ModLinkError(SValueOutOfRange, {1u, std::numeric_limits<TMaxRetries>::max()});
  std::unique_lock Guard(FLock);
  FMaxRetries = Value;
}

void TModbusConnection::SetRefetchDelay(std::uint32_t Value) {
  std::unique_lock Guard(FLock);
  FRefetchDelay = Value;
}

void TModbusConnection::SetTurnaroundDelay(std::uint32_t Value) {
  std::unique_lock Guard(FLock);
  FTurnaroundDelay = Value;
}

void TModbusConnection::SetRTSHoldDelay(std::uint32_t Value) {
  std::unique_lock Guard(FLock);
  FRTSHoldDelay = Value;
}

void TModbusConnection::SetEchoQueryBeforeReply(bool Value) {
  std::unique_lock Guard(FLock);
  FEchoQueryBeforeReply.store(Value, std::memory_order_relaxed);
}

std::uint32_t TModbusConnection::GetRealSilentInterval() const {
  std::shared_lock Guard(FLock);
  return FRealSilentInterval;
}

std::chrono::microseconds TModbusConnection::InterFrameGap() const {
  std::shared_lock Guard(FLock);
  return std::chrono::microseconds(FInterFrameGapUs);
}

std::uint32_t TModbusConnection::GetSendTimeout() const {
  std::shared_lock Guard(FLock);
  return FSendTimeout;
}

std::uint32_t TModbusConnection::GetReceiveTimeout() const {
  std::shared_lock Guard(FLock);
  return FReceiveTimeout;
}

TMaxRetries TModbusConnection::GetMaxRetries() const {
  std::shared_lock Guard(FLock);
  return FMaxRetries;
}

std::uint32_t TModbusConnection::GetRefetchDelay() const {
  std::shared_lock Guard(FLock);
  return FRefetchDelay;
}

std::uint32_t TModbusConnection::GetTurnaroundDelay() const {
  std::shared_lock Guard(FLock);
  return FTurnaroundDelay;
}

std::uint32_t TModbusConnection::GetRTSHoldDelay() const {
  std::shared_lock Guard(FLock);
  return FRTSHoldDelay;
}

// ---- Lines and device buffers ------------------------------------------------------

void TModbusConnection::ChangeDTR(bool Value) {
  CheckOpened();
  CheckFlowControl({fcNone, fcRtsToggle, fcRtsCts});
  FDevice->SetDTR(Value);
}

void TModbusConnection::ChangeRTS(bool Value) {
  CheckOpened();
  CheckFlowControl({fcNone, fcDtrDsr});
  FDevice->SetRTS(Value);
}

void TModbusConnection::ClearDeviceBuffers(bool RX, bool TX) {
  if (!RX && !TX) return;
  if (RX) FDropPendingInput.store(true);
  // A purge that fails leaves nothing worse than stale bytes.
  try {
    FDevice->Purge(RX, TX);
  } catch (const std::system_error&) {
  }
}

// ---- Clients, servers and the queue ----------------------------------------------------

void TModbusConnection::RegisterClient(TModbusClient* Client) {
  if (!Client || std::find(FClientList.begin(), FClientList.end(), Client) != FClientList.end())
    return;
  FClientList.push_back(Client);
}

void TModbusConnection::UnregisterClient(TModbusClient* Client) {
  if (!Client) return;
  std::erase(FClientList, Client);
}

TModbusClient* TModbusConnection::GetClient(int Index) const {
  if (Index < 0 || Index >= ClientCount()) ModLinkError(SListIndexOutOfBounds, {Index});
  return FClientList[static_cast<std::size_t>(Index)];
}

void TModbusConnection::RegisterServer(TModbusServer* Server) {
  if (!Server || std::find(FServerList.begin(), FServerList.end(), Server) != FServerList.end())
    return;
  FServerList.push_back(Server);
}

void TModbusConnection::UnregisterServer(TModbusServer* Server) {
  if (!Server) return;
  std::erase(FServerList, Server);
}

TModbusServer* TModbusConnection::GetServer(int Index) const {
  if (Index < 0 || Index >= ServerCount()) ModLinkError(SListIndexOutOfBounds, {Index});
  return FServerList[static_cast<std::size_t>(Index)];
}

void TModbusConnection::EnqueueTransaction(TModbusTransactionPtr&& Transaction,
                                           TModbusClient* AOriginator) {
  CheckOpened();
  if (!Transaction) return;
  if (!FThread) ModLinkError(SConnectionNotActive);
  Transaction->Originator = AOriginator;
  FThread->Enqueue(std::move(Transaction));
}

void TModbusConnection::DiscardPendingTransactions(TModbusClient* Client) {
  if (FActive && !FLoading && FConnectionMode == cmClient && FThread)
    FThread->DiscardPendingTransactions(Client);
}

int TModbusConnection::CountPendingTransactions(TModbusClient* Client) const {
  if (!FActive || FLoading || !FThread) return 0;
  return FThread->CountPendingTransactions(Client);
}

// ---- Events --------------------------------------------------------------------------

void TModbusConnection::DoAfterClose() {
  if (OnAfterClose) OnAfterClose(*this);
}
void TModbusConnection::DoAfterFrameSendAsync() {
  if (OnAfterFrameSendAsync) OnAfterFrameSendAsync(*this);
}
void TModbusConnection::DoAfterOpen() {
  if (OnAfterOpen) OnAfterOpen(*this);
}
void TModbusConnection::DoBeforeClose() {
  if (OnBeforeClose) OnBeforeClose(*this);
}
void TModbusConnection::DoBeforeFrameSendAsync() {
  if (OnBeforeFrameSendAsync) OnBeforeFrameSendAsync(*this);
}
void TModbusConnection::DoBeforeOpen() {
  if (OnBeforeOpen) OnBeforeOpen(*this);
}
void TModbusConnection::DoInspectCapturedFrame(std::uint8_t ServerAddress, std::uint8_t CommandCode,
                                               const TFrameData& CommandData) {
  if (OnInspectCapturedFrame)
    OnInspectCapturedFrame(*this, ServerAddress, CommandCode, CommandData);
}
void TModbusConnection::DoFrameReceive(const TFrameData& Data) {
  if (OnFrameReceive) OnFrameReceive(*this, Data);
}
void TModbusConnection::DoFrameSend(const TFrameData& Data) {
  if (OnFrameSend) OnFrameSend(*this, Data);
}
TNativeHandle TModbusConnection::DoGetHookedPortHandle() {
  TNativeHandle Handle = InvalidNativeHandle;
  if (OnGetHookedPortHandle) OnGetHookedPortHandle(*this, Handle);
  return Handle;
}
void TModbusConnection::DoInvalidFrameDiscard() {
  if (OnInvalidFrameDiscard) OnInvalidFrameDiscard(*this);
}
void TModbusConnection::DoPreprocessIncomingFrame(std::uint8_t* Buffer, int Capacity,
                                                  int& DataSize) {
  if (OnPreprocessIncomingFrame) OnPreprocessIncomingFrame(*this, Buffer, Capacity, DataSize);
}
