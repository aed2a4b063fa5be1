#include "ExchangeTracker.h"

TExchangeTracker::TVerdict TExchangeTracker::Classify(const TFrameRecord& Record) {
  TVerdict verdict;
  const bool sound = Record.Outcome == TFrameOutcome::foOk ||
                     Record.Outcome == TFrameOutcome::foException ||
                     Record.Outcome == TFrameOutcome::foUnmatched;
  const auto frame = sound ? ExtractPdu(Record.Framing, Record.Bytes) : std::nullopt;
  if (!frame || !FitsItsFunction(frame->Pdu)) {
    FPending.reset();  // whatever answered the last query was lost in this frame
    return verdict;
  }
  const std::uint8_t function = frame->Pdu[0] & 0x7F;
  const bool exception = (frame->Pdu[0] & 0x80) != 0;
  const bool answers = FPending && FPending->Address == frame->Address &&
                       FPending->Function == function && (exception || FitsReply(frame->Pdu));
  if (answers) {
    verdict.Role = TFrameRole::frReply;
    // Frames that arrived together (see SeparateMonitoredFrames) carry no time apart.
    if (Record.Time > FPending->Time) verdict.ResponseTime = Record.Time - FPending->Time;
    FPending.reset();
    return verdict;
  }
  FPending.reset();
  if (!exception && FitsRequest(frame->Pdu)) {
    verdict.Role = TFrameRole::frRequest;
    // A broadcast is never answered.
    if (frame->Address != 0) FPending = TPending{frame->Address, function, Record.Time};
  } else {
    verdict.Role = TFrameRole::frReply;
  }
  return verdict;
}
