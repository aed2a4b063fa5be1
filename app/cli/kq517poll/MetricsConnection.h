#pragma once
// One client's connection to the metrics endpoint. Its request head (request
// line and header fields) is read within a deadline and size limits before
// the HTTP library sees it, so that a client that is slow, idle or sends too
// much costs at most its deadline and a few kilobytes; the library then
// parses and answers the request from those bytes alone and never reads a
// body. Every wait also ends when the server stops.

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/PollHandle.h"

struct TRequestLimits {
  std::chrono::milliseconds HeadDeadline{5000};    // from the connection to the end of the head
  std::chrono::milliseconds AnswerDeadline{5000};  // for writing the answer
  std::size_t MaxHeadBytes = 16 * 1024;            // request line and header fields
  std::size_t MaxHeaderFields = 100;
};

enum class THeadOutcome {
  hoComplete,   // the head is there, up to and including its empty line
  hoTooLarge,   // more bytes or more fields than the limits allow
  hoAbandoned,  // the client went away or was too slow, or the server stops
};

// Reads the request head from Socket into Head.
THeadOutcome ReadRequestHead(TPollHandle Socket, TPollHandle Stop, const TRequestLimits& Limits,
                             std::string& Head);

// Writes all of Bytes before Deadline; false when the client does not take
// them in time, went away, or the server stops.
bool WriteAll(TPollHandle Socket, TPollHandle Stop, std::string_view Bytes,
              std::chrono::steady_clock::time_point Deadline);

// "HTTP/1.1 431 Request Header Fields Too Large" and the like, with no body,
// for answers given before the library has a request.
bool WriteStatusOnly(TPollHandle Socket, TPollHandle Stop, int Status, const char* Reason,
                     std::chrono::steady_clock::time_point Deadline);

// Ends the connection so that the answer reaches the client even when it is
// still sending (a body that was refused): our side is shut down first, and
// what the client sends meanwhile is read and dropped for a short while.
void CloseGracefully(TPollHandle Socket, TPollHandle Stop);

// The library's view of a connection whose request head has been read: reads
// come from the head, then the stream ends; writes go to the socket before
// the answer's deadline.
class THeadStream final : public httplib::Stream {
 public:
  THeadStream(TPollHandle Socket, TPollHandle Stop, std::string_view Head,
              std::chrono::steady_clock::time_point AnswerDeadline);

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* Ptr, size_t Size) override;
  ssize_t write(const char* Ptr, size_t Size) override;
  void get_remote_ip_and_port(std::string& Ip, int& Port) const override;
  void get_local_ip_and_port(std::string& Ip, int& Port) const override;
  socket_t socket() const override { return FSocket; }

 private:
  TPollHandle FSocket;
  TPollHandle FStop;
  std::string_view FHead;
  std::size_t FRead = 0;
  std::chrono::steady_clock::time_point FDeadline;
};
