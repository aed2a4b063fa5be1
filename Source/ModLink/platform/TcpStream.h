// A line device that is a TCP connection to a serial device server ("RTU over TCP"): the
// server passes the frames, error check and all, between the connection and its serial
// line. A port named tcp://HOST:PORT (tcp://[ADDRESS]:PORT for IPv6) opens one.
//
// A stream has no bit rate, no parity and no modem lines: those settings are ignored. It
// has no line silence either, as TCP cuts and joins the bytes as it likes.
//
// The server may close or reset the connection at any time. A close right after the reply
// to a query came in ends that reply; otherwise a close or a reset while the answer to a
// query is awaited is a failure naming the address ("Lost the connection to
// tcp://HOST:PORT: closed by the server"). Either way the next query, or the next wait
// that is not awaiting an answer, connects again, within the connect time-out.
//
// A server that closes after each reply may close just as the next query goes out on the
// same connection, too late for the purge before it to see. A query that went out on a
// connection that had already carried an exchange, and found it closed without a byte of
// answer, is sent once more on a new connection (as HTTP clients do with a kept-alive
// connection): the server never took it, since it had closed.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "LineDevice.h"
#include "StreamSocket.h"

struct TTcpStreamAddress {
  std::string Host;  // a name, or an address (IPv6 without its brackets)
  std::uint16_t Port = 0;
};

// True for a port name that asks for a TCP stream: it starts with "tcp://" (in any case).
bool IsTcpStreamName(const std::string& PortName);
// The host and port of tcp://HOST:PORT or tcp://[ADDRESS]:PORT; none when the name is not
// shaped so or the port is not 1 to 65535.
std::optional<TTcpStreamAddress> ParseTcpStreamAddress(const std::string& PortName);

class TTcpStream : public TLineDevice {
 public:
  ~TTcpStream() override;

  // Connects to the address PortName names. Raises std::system_error: "Not a TCP address
  // ..." for a name that is not shaped tcp://HOST:PORT, "Could not connect to
  // tcp://HOST:PORT: <reason>" when the connection is not made within the time-out.
  void Open(const std::string& PortName);
  void Close() override;
  // Open until closed, also while the connection waits to be made again.
  bool IsOpen() const override { return FOpen; }
  const std::string& Name() const override { return FName; }
  // The limit of every connect, in ms (0: as long as the system tries). Any thread.
  void SetConnectTimeout(std::uint32_t Milliseconds) { FConnectTimeout.store(Milliseconds); }

  void SetRTS(bool) override {}
  void SetDTR(bool) override {}
  // Drops the input received so far and notes a close of the server's, so that the next
  // query goes out on a new connection; sent bytes belong to the network. Like every
  // operation but Close, on the thread that reads and writes.
  void Purge(bool Input, bool Output) override;
  // The bytes sent are the network's at once.
  bool Drain(std::uint32_t) override { return true; }
  std::size_t Read(std::uint8_t* Data, std::size_t Count) override;
  std::size_t Write(const std::uint8_t* Data, std::size_t Count, std::uint32_t TimeoutMs) override;
  TWaitResult WaitForInput(TOsEvent& Break, std::uint32_t TimeoutMs) override;

 private:
  // Where the exchange on the current connection stands: it decides what a close means.
  enum class TExchange {
    Idle,      // nothing sent since the connection was made, or the last loss reported
    Awaiting,  // bytes sent, none received since
    Answered   // bytes received since the last send
  };
  void Connect();
  // The connection is over for Reason: the socket is closed, the wait tells what it means.
  void End(const std::error_code& Reason);
  bool Ended() const { return FPeerClosed || !FSocket.IsConnected(); }

  TTcpStreamAddress FAddress;
  std::string FName;
  bool FOpen = false;
  TStreamSocket FSocket;
  TExchange FExchange = TExchange::Idle;
  bool FPeerClosed = false;          // a purge saw the server's close or a failure
  std::error_code FEndReason;        // why the connection ended, when a receive saw it
  bool FCarriedExchange = false;     // the connection took a query before the current one
  std::vector<std::uint8_t> FQuery;  // the query awaiting its answer, to send once more
  std::atomic<std::uint32_t> FConnectTimeout{5000};
};
