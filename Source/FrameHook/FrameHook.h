#pragma once
// One record per frame that crosses a Modbus line, and the hook that hands it
// to whoever listens: the traffic view, a trace on stderr, the statistics, a
// line monitor. Both Modbus stacks (TCP and serial) emit through it at their
// choke points: after a frame is written, and after a received frame (or the
// wait for one) has been classified. The stacks know nothing of the listeners.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

// How the bytes of a record are framed on the line.
enum class TFrameFraming : std::uint8_t {
  ffTcp,    // Modbus TCP: the 7-byte header, then function code and data
  ffRtu,    // Modbus RTU: address, function code, data, CRC-16 (low byte first)
  ffAscii,  // Modbus ASCII: ':' hex characters, LRC, CR LF, as they went over the line
};

enum class TFrameDirection : std::uint8_t {
  fdSent,      // written by this side
  fdReceived,  // read from the line
};

// What the frame turned out to be, once the stack has classified it.
enum class TFrameOutcome : std::uint8_t {
  foOk,             // a well-formed frame: a request or a reply that matched its request
  foException,      // an exception reply (function code with bit 7 set)
  foChecksumError,  // the CRC (RTU) or the LRC (ASCII) does not match
  foLengthError,    // too short, too long, or a byte count that disagrees with the data
  foUnmatched,      // well-formed, but not the reply to the request: other address, function
                    // or transaction identifier
  foTimeout,        // no complete reply in time; Bytes holds what did arrive, if anything
};

struct TFrameRecord {
  std::chrono::steady_clock::time_point Time;  // when the frame was written or finished
  TFrameDirection Direction = TFrameDirection::fdSent;
  TFrameFraming Framing = TFrameFraming::ffTcp;
  TFrameOutcome Outcome = TFrameOutcome::foOk;
  std::vector<std::uint8_t> Bytes;  // the frame as it was on the line
  // For a received reply or a time-out on the requesting side: the time since
  // its request was written. Zero otherwise.
  std::chrono::nanoseconds ResponseTime{0};
  // For a frame the requesting side dropped (foUnmatched) because it is not
  // the reply awaited: what differs, "transaction id 7, expected 3". Empty
  // when the stack does not say.
  std::string NotMatched;
  // For a run of line noise a monitor passed over (bytes of no frame, reported as
  // foLengthError): how many bytes it had on the line; Bytes holds only its first ones.
  // 0 for a frame.
  std::uint64_t NoiseBytes = 0;
};

// The listeners of one stack. Emit calls every listener on the emitting thread
// (a serial connection's worker, or the thread that made a TCP request), under
// a shared lock, so that once Unsubscribe has returned its listener is never
// called again. A listener must therefore be quick, must not wait for another
// thread, and must not subscribe or unsubscribe from inside the call.
class TFrameHook {
 public:
  using TListener = std::function<void(const TFrameRecord&)>;
  using TToken = std::uint64_t;

  TToken Subscribe(TListener Listener);
  // Unknown or already removed tokens are ignored.
  void Unsubscribe(TToken Token);
  // True when someone listens; the emitter skips building records otherwise.
  bool Active() const;
  void Emit(const TFrameRecord& Record) const;

 private:
  struct TEntry {
    TToken Token;
    TListener Listener;
  };
  mutable std::shared_mutex FLock;
  std::vector<TEntry> FListeners;
  TToken FNextToken = 1;
};
