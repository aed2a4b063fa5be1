#pragma once
// A register source over a Modbus RTU line, with a main-thread queue of its
// own: the serial library's replies are handled on whichever thread calls
// Read, so a scan or a detection may run on a worker thread of the window as
// well as on the poller's only thread. The port stays open between reads;
// line settings and the slave address may change in between.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ModLinkTypes.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "RegisterSource.h"
#include "SerialLine.h"
#include "platform/MainThread.h"

struct TSerialSourceSettings {
  TSerialPort Port;
  std::uint32_t BitRate = 115200;
  TParityScheme Parity = psNone;
  TTransmissionMode Mode = tmRTU;
  TDataBits DataBits = db8;
  TStopBits StopBits = sb1;
  std::uint8_t Slave = 1;
  std::uint32_t ReplyTimeoutMs = 1000;  // the library's default receive time-out
  TMaxRetries MaxRetries = 1;
};

// "Modbus RTU /dev/ttyUSB0, 19200 baud, parity even, slave 7"; "Modbus ASCII
// tcp://10.0.0.9:4001, slave 7" through a serial device server.
std::string DescribeSerialSource(const TSerialSourceSettings& Settings);

class TSerialRegisterSource : public TRegisterSource {
 public:
  // The calling thread is the one that must call Read.
  explicit TSerialRegisterSource(const TSerialSourceSettings& Settings);
  ~TSerialRegisterSource() override;
  TSerialRegisterSource(const TSerialRegisterSource&) = delete;
  TSerialRegisterSource& operator=(const TSerialRegisterSource&) = delete;

  TRegisterRead Read(std::uint16_t Start, std::uint32_t Count) override;
  TRegisterRead ReadTable(EReadFunction Table, std::uint16_t Start, std::uint32_t Count) override;
  TRegisterWrite Write(std::uint16_t Start, const std::vector<std::uint16_t>& Words,
                       bool Single) override;
  std::string Describe() const override;

  // New line settings, slave or reply time-out for the following reads.
  void SetLine(std::uint32_t BitRate, TParityScheme Parity);
  void SetSlave(std::uint8_t Slave) { FSettings.Slave = Slave; }
  void SetReplyTimeout(std::uint32_t Milliseconds);

  // How the last read ended on the line (srNone also when it never went out)
  // and the exception code of an exception reply.
  TServerReply LastReply() const { return FLastReply; }
  std::uint8_t LastExceptionCode() const { return FLastExceptionCode; }
  // The last read never went out: the port could not be opened or refused the request.
  bool PortFailed() const { return FPortFailed; }

  // Another thread may end a read in progress; the source answers "stopped".
  void RequestStop() { FStop = true; }
  bool StopRequested() const { return FStop; }

 private:
  // Opens the port, queues the request Send makes (it returns the request's
  // id) and waits for its reply; Words gets the registers a read brought.
  // The reply's information, or none with the reason in Error.
  std::optional<TTransactionInfo> Transact(const std::function<std::uint32_t()>& Send,
                                           std::vector<std::uint16_t>& Words, std::string& Error);

  TSerialSourceSettings FSettings;
  TQueuedMainThread FMainThread;
  TModbusConnection FConnection;
  TModbusClient FClient;
  std::atomic<bool> FStop{false};
  TServerReply FLastReply = srNone;
  std::uint8_t FLastExceptionCode = 0;
  bool FPortFailed = false;
};
