#include "FrameData.h"

PFrameData CreateFrameBuffer(int Capacity) {
  return new TFrameData(static_cast<std::size_t>(Capacity < 0 ? 0 : Capacity), 0);
}

void DestroyFrameBuffer(PFrameData& Holder) {
  if (!Holder) return;
  PFrameData Doomed = Holder;
  Holder = nullptr;
  delete Doomed;
}
