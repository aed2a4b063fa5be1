// TModbusConnection owns one serial line for the serial Modbus library: every line
// and protocol setting, open and close, the silent interval that ends an RTU frame,
// the worker thread while the port is open, the lists of attached clients and
// servers, RTU and ASCII framing, the frame exchange on the line, and the internal
// window through which the worker hands results to the main (user-interface) thread.
//
// Threads: settings, open/close, the registries and the window run on the main
// thread. The exchange operations (SendFrame, ReceiveFrame, WaitForData, EncodeFrame,
// DecodeFrame and the matching tests) run on the worker thread, one call at a time,
// and read the timing settings through the locked getters.
//
// Framing decisions (sizes, encoding, where a frame ends, reply matching) belong to a
// TModbusFraming value chosen by the transmission and connection modes; the framing
// operations below hand over to it. Every frame the worker writes or reads is also
// reported, with its time and outcome, to the listeners of FrameHook().
//
// Linux notes: DSR/DTR flow control has no termios equivalent, so opening with
// fcDtrDsr is refused with an EModLinkError. On devices without modem lines (a
// pseudo-terminal) the RTS and DTR levels programmed at open are best-effort, while
// ChangeRTS/ChangeDTR and the RTS toggle around a send report the failure as a
// std::system_error. A port that cannot be opened raises std::system_error too, its
// message starting with "Could not open serial port" and naming the port and the reason.
//
// The line is a serial port, or a TCP stream to a serial device server when the port is
// named tcp://HOST:PORT (tcp://[ADDRESS]:PORT for IPv6; see platform/TcpStream.h). Over a
// stream the bit rate, parity and modem lines are ignored, RTU frames end by their
// predicted length whatever FrameEndByLength says, and the silence that ends a frame of
// unpredictable length is NetworkSilentInterval instead of a count of characters.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <vector>

#include "CrossThreadEvent.h"
#include "FrameData.h"
#include "FrameHook.h"
#include "ModLinkConsts.h"
#include "ModLinkTypes.h"
#include "ModbusBuffer.h"
#include "ModbusFraming.h"
#include "ModbusTransaction.h"
#include "ReusableThread.h"
#include "platform/MainThread.h"
#include "platform/NativeHandle.h"
#include "platform/OsEvent.h"
#include "platform/SerialDevice.h"
#include "platform/TcpStream.h"

// windows.h stays inside platform/win32/*.cpp: its PostMessage macro would rename a
// member of the connection.
#ifdef PostMessage
#error "windows.h must not be included before the library's headers"
#endif

class TModbusClient;
class TModbusServer;
class TTransactionThread;
struct TInspectCapturedFrameEventArgs;
class TModbusConnection;

// A message for the internal window. LParam carries what the message hands over
// (a transaction, a frame holder or captured-frame arguments); the window frees it.
struct TMessage {
  std::uint32_t Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::intptr_t Result = 0;
};

using TNotifyEvent = std::function<void(TModbusConnection& Sender)>;
using TFrameDataSignature = void(TModbusConnection& Sender, const TFrameData& Data);
using TFrameDataEvent = std::function<TFrameDataSignature>;
// HookHandle is preset to InvalidNativeHandle; a handler stores the handle of a port it opened.
using TGetHookedPortHandleEvent =
    std::function<void(TModbusConnection& Sender, TNativeHandle& HookHandle)>;
// Buffer holds DataSize received bytes within Capacity; a handler may change the
// bytes and DataSize (0 .. Capacity), and the receive returns the new size.
using TPreprocessIncomingFrameEvent = std::function<void(
    TModbusConnection& Sender, std::uint8_t* Buffer, int Capacity, int& DataSize)>;
using TInspectCapturedFrameEvent =
    std::function<void(TModbusConnection& Sender, std::uint8_t ServerAddress,
                       std::uint8_t CommandCode, const TFrameData& CommandData)>;

class TModbusConnection {
 public:
  TModbusConnection();
  // Closes the port and tells the attached clients and servers.
  virtual ~TModbusConnection();
  TModbusConnection(const TModbusConnection&) = delete;
  TModbusConnection& operator=(const TModbusConnection&) = delete;

  // ---- State -------------------------------------------------------------
  bool Active() const { return FActive; }
  void SetActive(bool Value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  // While settings are being restored, SetActive only parks the requested state;
  // Loaded() ends the restore and applies it. A failure there goes to the
  // application's exception handler.
  void BeginLoad() { FLoading = true; }
  void Loaded();
  bool IsLoading() const { return FLoading; }

  void CheckClosed() const;
  void CheckOpened() const;
  void CheckFlowControl(TFlowControls AFlowControls) const;

  // ---- Settings ------------------------------------------------------------
  const TSerialPort& Port() const { return FPort; }
  void SetPort(const TSerialPort& Value);  // closed only
  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate Value);
  std::uint32_t CustomBaudRate() const { return FCustomBaudRate; }
  void SetCustomBaudRate(std::uint32_t Value);  // also selects brCustom
  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits Value);
  TParityScheme Parity() const { return FParity; }
  void SetParity(TParityScheme Value);
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits Value);
  TFlowControl FlowControl() const { return FFlowControl; }
  void SetFlowControl(TFlowControl Value);  // closed only
  bool RTSEnabled() const { return FRTSEnabled; }
  void SetRTSEnabled(bool Value);  // closed only
  bool DTREnabled() const { return FDTREnabled; }
  void SetDTREnabled(bool Value);  // closed only
  TTransmissionMode TransmissionMode() const { return FTransmissionMode; }
  void SetTransmissionMode(TTransmissionMode Value);  // closed only
  TConnectionMode ConnectionMode() const { return FConnectionMode; }
  void SetConnectionMode(TConnectionMode Value);  // closed only
  // RTU frames end as soon as the bytes their function code announces have arrived with
  // a right CRC, instead of after the line's silence, which stays the rule for functions
  // of unpredictable length (see TModbusFraming). Off by default. No effect in ASCII.
  bool FrameEndByLength() const { return FFrameEndByLength; }
  void SetFrameEndByLength(bool Value);  // closed only
  bool HookExistingPort() const { return FHookExistingPort; }
  void SetHookExistingPort(bool Value);  // closed only
  int InputBufferSize() const { return FInputBufferSize; }
  void SetInputBufferSize(int Value);  // closed only
  int OutputBufferSize() const { return FOutputBufferSize; }
  void SetOutputBufferSize(int Value);  // closed only
  std::uint32_t SilentInterval() const { return FSilentInterval; }
  void SetSilentInterval(std::uint32_t Value);
  // Over a TCP stream: the pause, in ms, that ends a frame whose length its function code
  // does not tell (the network cuts frames as it likes; 50 by default).
  std::uint32_t NetworkSilentInterval() const { return FNetworkSilentInterval; }
  void SetNetworkSilentInterval(std::uint32_t Value);
  // Over a TCP stream: the limit of every connect, in ms (0: as long as the system tries).
  std::uint32_t ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(std::uint32_t Value);
  // Whether the port names a TCP stream rather than a serial port.
  bool OverTcpStream() const { return !FHookExistingPort && IsTcpStreamName(FPort); }
  TThreadPriority ThreadPriority() const { return FThreadPriority; }
  void SetThreadPriority(TThreadPriority Value);
  void SetSendTimeout(std::uint32_t Value);
  void SetReceiveTimeout(std::uint32_t Value);
  void SetMaxRetries(TMaxRetries Value);  // 1 .. 4294967295
  void SetRefetchDelay(std::uint32_t Value);
  void SetTurnaroundDelay(std::uint32_t Value);
  void SetRTSHoldDelay(std::uint32_t Value);
  bool EchoQueryBeforeReply() const {
    return FEchoQueryBeforeReply.load(std::memory_order_relaxed);
  }
  void SetEchoQueryBeforeReply(bool Value);

  // Settings the worker reads while the port is open, under the reader side of the lock.
  std::uint32_t GetRealSilentInterval() const;
  std::uint32_t GetSendTimeout() const;
  std::uint32_t GetReceiveTimeout() const;
  TMaxRetries GetMaxRetries() const;
  std::uint32_t GetRefetchDelay() const;
  std::uint32_t GetTurnaroundDelay() const;
  std::uint32_t GetRTSHoldDelay() const;
  std::uint32_t RealSilentInterval() const { return GetRealSilentInterval(); }
  std::uint32_t SendTimeout() const { return GetSendTimeout(); }
  std::uint32_t ReceiveTimeout() const { return GetReceiveTimeout(); }
  TMaxRetries MaxRetries() const { return GetMaxRetries(); }
  std::uint32_t RefetchDelay() const { return GetRefetchDelay(); }
  std::uint32_t TurnaroundDelay() const { return GetTurnaroundDelay(); }
  std::uint32_t RTSHoldDelay() const { return GetRTSHoldDelay(); }

  // The main thread the internal window runs on; taken from MainThread() at
  // construction. Closed only.
  TMainThread& MainThread() const { return *FMainThread; }
  void SetMainThread(TMainThread& Value);

  // ---- Lines and device buffers -----------------------------------------
  // Set or clear a line at once; RTSEnabled / DTREnabled keep their values.
  void ChangeDTR(bool Value);
  void ChangeRTS(bool Value);
  // Discards what the device holds: RX the input queue, TX the output queue.
  void ClearDeviceBuffers(bool RX, bool TX);

  // ---- Clients, servers and the transaction queue -------------------------
  void RegisterClient(TModbusClient* Client);
  void UnregisterClient(TModbusClient* Client);
  TModbusClient* GetClient(int Index) const;
  int ClientCount() const { return static_cast<int>(FClientList.size()); }
  void RegisterServer(TModbusServer* Server);
  void UnregisterServer(TModbusServer* Server);
  TModbusServer* GetServer(int Index) const;
  int ServerCount() const { return static_cast<int>(FServerList.size()); }

  // Hands the transaction to the worker's queue. On a closed connection it raises
  // and leaves the transaction with the caller.
  void EnqueueTransaction(TModbusTransactionPtr&& Transaction, TModbusClient* AOriginator);
  void DiscardPendingTransactions(TModbusClient* Client);
  int CountPendingTransactions(TModbusClient* Client) const;
  std::uint32_t GetNextUniqueID() { return FNextUniqueID++; }

  // ---- Framing -------------------------------------------------------------
  // The framing of the current transmission and connection modes; it changes only with
  // them, and so never while the port is open.
  const TModbusFraming& Framing() const { return FFraming; }
  int DetermineHeaderSize() const;
  int DetermineErrorCheckSize() const;
  int DetermineMinimumQuerySize() const;
  int DetermineMinimumReplySize() const;
  int DetermineMaximumFrameSize() const;
  int DetermineInterimBufferSize() const;
  // Smallest raw frame DecodeFrame accepts in the current connection mode.
  int DetermineMinimumRawFrameSize() const;

  void EmitHeader(const TModbusClient* Client, TModbusBuffer& Buffer) const;  // null: broadcast
  void EmitHeader(const TModbusServer& Server, TModbusBuffer& Buffer) const;
  // Appends the error check of the bytes before the cursor.
  void EmitErrorCheck(TModbusBuffer& Buffer) const;
  bool ErrorChecksEqual(TModbusBuffer& Buffer) const;
  // Binary frame to raw line bytes; returns the raw size.
  int EncodeFrame(const TModbusBuffer& Buffer, std::uint8_t* DestPtr, int DestCapacity) const;
  // Raw line bytes to a binary frame at the start of Buffer; true when well-formed
  // with a correct error check.
  bool DecodeFrame(const std::uint8_t* SourcePtr, TModbusBuffer& Buffer, int SourceSize) const;

  static bool IsEcho(const std::uint8_t* Sent, int SentCount, const std::uint8_t* Received,
                     int ReceivedCount);
  bool HeadersMatch(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer) const;
  bool CommandsMatch(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer) const;
  bool IsExpectedReply(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer,
                       bool Promiscuous) const;
  bool IsExceptionReply(TModbusBuffer& ReplyBuffer) const;
  std::uint8_t AcquireServerAddress(TModbusBuffer& Buffer) const;
  std::uint8_t AcquireModbusCommand(TModbusBuffer& Buffer) const;
  void AcquireServerException(TModbusBuffer& Buffer, TServerException& Exception,
                              std::uint8_t& ExceptionCode) const;

  // ---- Exchange (worker thread) ---------------------------------------------
  // True when all bytes were written. A device that accepts nothing for Timeout ms
  // (0: no limit) ends the write early.
  bool SendFrame(const std::uint8_t* Data, int Count, std::uint32_t Timeout);
  // One raw frame into Buffer; its size, 0 when nothing came within Timeout ms.
  int ReceiveFrame(std::uint8_t* Buffer, int Capacity, std::uint32_t Timeout);
  // True when characters arrived within Timeout ms (InfiniteTimeout: no limit).
  // The break event ends the wait early with false. A wait leaves nothing pending.
  bool WaitForData(std::uint32_t Timeout);
  // Waits until the line has been quiet for the gap between two frames (SilentInterval
  // characters at the line's rate) since QuietSince, dropping what arrives meanwhile; never
  // longer than RealSilentInterval in all. Before the first query after the port opened.
  void WaitForQuietLine(std::chrono::steady_clock::time_point QuietSince);
  // When the port was opened and its buffers purged (worker side: fixed while open).
  std::chrono::steady_clock::time_point OpenedAt() const { return FOpenedAt; }
  // The thread every worker of this connection runs on, parked while the port is closed.
  TReusableThread& WorkerThread() { return FWorkerThread; }
  // Ends a WaitForData in progress (or the next one).
  void SignalBreak() { FBreakEvent.Set(); }
  TOsEvent& BreakEvent() { return FBreakEvent; }

  static constexpr std::uint32_t InfiniteTimeout = TOsEvent::InfiniteTimeout;

  // ---- Frame hook --------------------------------------------------------------
  // Every frame the worker writes or reads, stamped with a steady-clock time, its
  // direction, its bytes as on the line and its outcome. Listeners run on the worker.
  TFrameHook& FrameHook() { return FFrameHook; }

  // ---- Internal window ---------------------------------------------------------
  // Any thread: post to the internal window; ownership passes with the message.
  void PostTransactionComplete(TModbusTransactionPtr Transaction);
  void PostFrameData(PFrameData Holder, bool Sending);
  void PostInspectCapturedFrame(std::unique_ptr<TInspectCapturedFrameEventArgs> Args);
  // Main thread: handles one message and frees what it carries in every case.
  void InternalWndProc(TMessage& Message);
  // The transaction's originator if it is still attached with the same server address.
  TModbusClient* FindClientFromTransaction(const TModbusTransaction& Transaction) const;

  // ---- Server side (defined with the server code) ------------------------------------
  // The first registered server with this address, or null.
  TModbusServer* FindServerFromServerAddress(std::uint8_t Address) const;
  // Main thread: the server with the query's address answers it into its reply; a
  // broadcast goes to every registered server in registration order.
  void ProcessRemoteTransaction(TModbusTransaction& Transaction);
  // Broadcast writes (address 0) queued on this connection; each returns the ID.
  std::uint32_t WriteSingleCoil(std::uint16_t BitAddr, bool BitValue, void* UserData = nullptr);
  std::uint32_t WriteSingleRegister(std::uint16_t RegAddr, std::uint16_t RegValue,
                                    void* UserData = nullptr);
  std::uint32_t WriteMultipleCoils(std::uint16_t StartBit, const std::vector<bool>& BitValues,
                                   void* UserData = nullptr);
  std::uint32_t WriteMultipleRegisters(std::uint16_t StartReg,
                                       const std::vector<std::uint16_t>& RegValues,
                                       void* UserData = nullptr);

  // ---- Events ---------------------------------------------------------------------
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnAfterOpen;  // Active still reads false here
  TNotifyEvent OnBeforeClose;
  TNotifyEvent OnAfterClose;            // Active still reads true here
  TNotifyEvent OnBeforeFrameSendAsync;  // worker thread
  TNotifyEvent OnAfterFrameSendAsync;   // worker thread
  // Assigned and run on the main thread; the worker only asks whether they are assigned.
  TCrossThreadEvent<TFrameDataSignature> OnFrameSend;
  TCrossThreadEvent<TFrameDataSignature> OnFrameReceive;
  TGetHookedPortHandleEvent OnGetHookedPortHandle;
  TPreprocessIncomingFrameEvent OnPreprocessIncomingFrame;
  TInspectCapturedFrameEvent OnInspectCapturedFrame;
  TNotifyEvent OnInvalidFrameDiscard;

 protected:
  friend class TTransactionThread;

  virtual void DoAfterClose();
  virtual void DoAfterFrameSendAsync();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoBeforeFrameSendAsync();
  virtual void DoBeforeOpen();
  virtual void DoInspectCapturedFrame(std::uint8_t ServerAddress, std::uint8_t CommandCode,
                                      const TFrameData& CommandData);
  virtual void DoFrameReceive(const TFrameData& Data);
  virtual void DoFrameSend(const TFrameData& Data);
  // The handle of a port the application opened; InvalidNativeHandle when none.
  virtual TNativeHandle DoGetHookedPortHandle();
  virtual void DoInvalidFrameDiscard();
  virtual void DoPreprocessIncomingFrame(std::uint8_t* Buffer, int Capacity, int& DataSize);

  virtual void InternalOpen();
  virtual void InternalClose();
  void UpdateDCB();
  void UpdateRealSilentInterval();

 private:
  // The internal window's identity, shared with every posted message so that a
  // message arriving after the connection is gone only frees what it carries.
  struct TWindow {
    explicit TWindow(TModbusConnection* AOwner) : Owner(AOwner) {}
    std::atomic<TModbusConnection*> Owner;  // cleared when the connection is destroyed
  };
  void PostMessage(std::uint32_t Msg, std::uintptr_t WParam, std::intptr_t LParam);
  bool LiveReprogramAllowed() const { return FActive && !FLoading; }
  void RebuildFraming();
  void OpenSerialDevice();
  void ReprogramLine();
  std::uint32_t LineBitRate() const;
  std::uint32_t DrainTimeout(std::size_t Count, std::uint32_t SendTimeout) const;
  std::chrono::microseconds InterFrameGap() const;
  int ReadAvailable(std::uint8_t* Area, int Free);
  void DiscardInputUntilSilence(std::uint32_t Silence, std::uint32_t Limit);
  int ReceiveRawFrame(std::uint8_t* Buffer, int Capacity, std::uint32_t Timeout,
                      std::uint32_t Silence);

  // State
  bool FActive = false;
  bool FLoading = false;
  bool FStreamedActive = false;
  bool FDestroying = false;
  TOsEvent FBreakEvent{false};
  std::vector<TModbusClient*> FClientList;
  std::vector<TModbusServer*> FServerList;
  TSerialDevice FSerialDevice;
  TTcpStream FTcpStream;
  TLineDevice* FDevice = &FSerialDevice;  // the one of the two the port names
  std::shared_ptr<TWindow> FInternalWindow;
  TMainThread* FMainThread;
  mutable std::shared_mutex FLock;
  std::uint32_t FNextUniqueID = 0;
  std::uint32_t FRealSilentInterval = MinimumRealSilentInterval;
  std::uint32_t FInterFrameGapUs = MinimumRealSilentInterval * 1000;
  TReusableThread FWorkerThread;  // before FThread: the worker runs on it
  std::unique_ptr<TTransactionThread> FThread;
  TModbusFraming FFraming{tmRTU, cmClient};
  TFrameHook FFrameHook;
  // Worker side: bytes that followed a complete frame in its read, the start of the next
  // one. A purge of the input drops them (the flag, as the purge may come from any thread).
  std::vector<std::uint8_t> FPendingInput;
  std::atomic<bool> FDropPendingInput{false};
  // Worker side: the last query sent or seen on the line, for the frame end by length.
  TQueryShape FLastQuery;
  // Worker side: a monitor's line noise since the last frame it reported.
  TLineNoise FLineNoise;
  std::chrono::steady_clock::time_point FOpenedAt;

  // Settings
  TSerialPort FPort = DefaultPort;
  TBaudRate FBaudRate = br19200;
  std::uint32_t FCustomBaudRate = 19200;
  TDataBits FDataBits = db8;
  TParityScheme FParity = psEven;
  TStopBits FStopBits = sb1;
  TFlowControl FFlowControl = fcNone;
  bool FRTSEnabled = true;
  bool FDTREnabled = true;
  TTransmissionMode FTransmissionMode = tmRTU;
  TConnectionMode FConnectionMode = cmClient;
  bool FFrameEndByLength = false;
  bool FHookExistingPort = false;
  int FInputBufferSize = 1024;
  int FOutputBufferSize = 1024;
  std::uint32_t FSilentInterval = 4;
  std::uint32_t FNetworkSilentInterval = 50;
  std::uint32_t FConnectTimeout = 5000;
  TThreadPriority FThreadPriority = tpNormal;
  std::uint32_t FSendTimeout = 1000;
  std::uint32_t FReceiveTimeout = 1000;
  TMaxRetries FMaxRetries = 1;
  std::uint32_t FRefetchDelay = 0;
  std::uint32_t FTurnaroundDelay = 100;
  std::uint32_t FRTSHoldDelay = 0;
  std::atomic<bool> FEchoQueryBeforeReply{false};
};
