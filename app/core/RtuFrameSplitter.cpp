#include "RtuFrameSplitter.h"

#include "ErrorChecks.h"
#include "FrameSummary.h"

namespace {

constexpr std::size_t MIN_FRAME = 4;    // address, function, CRC
constexpr std::size_t MAX_FRAME = 256;  // the largest RTU frame

bool SoundFrame(std::span<const std::uint8_t> Frame) {
  const std::size_t size = Frame.size();
  const std::uint16_t crc = CRC16(Frame.data(), size - 2);
  if (Frame[size - 2] != (crc & 0xFF) || Frame[size - 1] != (crc >> 8)) return false;
  const auto pdu = Frame.subspan(1, size - 3);
  return FitsRequest(pdu) || FitsReply(pdu);
}

// Splits Bytes from Start on; Dead marks starts already known not to split.
bool SplitFrom(std::span<const std::uint8_t> Bytes, std::size_t Start, std::vector<bool>& Dead,
               std::vector<std::vector<std::uint8_t>>& Frames) {
  if (Start == Bytes.size()) return true;
  if (Dead[Start]) return false;
  const std::size_t left = Bytes.size() - Start;
  for (std::size_t size = MIN_FRAME; size <= left && size <= MAX_FRAME; ++size) {
    const auto frame = Bytes.subspan(Start, size);
    if (!SoundFrame(frame)) continue;
    Frames.emplace_back(frame.begin(), frame.end());
    if (SplitFrom(Bytes, Start + size, Dead, Frames)) return true;
    Frames.pop_back();
  }
  Dead[Start] = true;
  return false;
}

}  // namespace

std::vector<std::vector<std::uint8_t>> SplitRtuFrames(std::span<const std::uint8_t> Bytes) {
  std::vector<std::vector<std::uint8_t>> frames;
  std::vector<bool> dead(Bytes.size() + 1, false);
  if (Bytes.size() < 2 * MIN_FRAME || !SplitFrom(Bytes, 0, dead, frames) || frames.size() < 2)
    return {};
  return frames;
}

std::vector<TFrameRecord> SeparateMonitoredFrames(const TFrameRecord& Record) {
  const bool failedRtu =
      Record.Framing == TFrameFraming::ffRtu && (Record.Outcome == TFrameOutcome::foChecksumError ||
                                                 Record.Outcome == TFrameOutcome::foLengthError);
  const auto frames = failedRtu ? SplitRtuFrames(Record.Bytes) : decltype(SplitRtuFrames({})){};
  if (frames.empty()) return {Record};
  std::vector<TFrameRecord> records;
  for (const auto& bytes : frames) {
    TFrameRecord frame = Record;
    frame.Bytes = bytes;
    frame.Outcome = (bytes[1] & 0x80) ? TFrameOutcome::foException : TFrameOutcome::foOk;
    records.push_back(std::move(frame));
  }
  return records;
}
