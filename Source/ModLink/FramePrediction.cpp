#include "FramePrediction.h"

#include "ModLinkConsts.h"
#include "PduSize.h"

static_assert(UnknownYet == PduSizeUnknownYet && Unpredictable == PduSizeUnpredictable);

namespace {

constexpr int Overhead = 3;  // address in front of the PDU, two CRC bytes after it

// The frame's size from its PDU's: UnknownYet and Unpredictable pass through, and a frame
// longer than an RTU frame can be is not one the length can end.
int FrameSize(int PduSize) {
  if (PduSize <= 0) return PduSize;
  const int Size = PduSize + Overhead;
  return Size <= MaxFrameADUSizeRTU ? Size : Unpredictable;
}

}  // namespace

int PredictQuerySize(const std::uint8_t* Frame, int Count) {
  if (Count < 2) return UnknownYet;
  return FrameSize(RequestPduSize(Frame + 1, Count - 1));
}

int PredictReplySize(const std::uint8_t* Frame, int Count, const TQueryShape& Query) {
  if (Count < 2) return UnknownYet;
  const int QueryPdu = Query.Size > Overhead ? Query.Size - Overhead : 0;
  return FrameSize(ReplyPduSize(Frame + 1, Count - 1, Query.Command, QueryPdu));
}
