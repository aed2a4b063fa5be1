#pragma once
// The window's TCP collection cycle, driven by the poller's options: unit
// identifier and time-outs from the command line, and a switched-off meter
// instance reported as such instead of decoded as values.

#include <string>
#include <vector>

#include "CycleSource.h"
#include "PollOptions.h"
#include "RegisterMap.h"
#include "TcpCollectionCycle.h"

class TTcpCycleSource : public TCycleSource {
 public:
  TTcpCycleSource(const TPollOptions& Options, TRegisterMap& Map);
  TCycleOutcome RunCycle() override;
  void Restart() override { FCycle.StartPoll(); }
  TFrameHook& FrameHook() override { return FClient.FrameHook(); }

 private:
  const TPollOptions& FOptions;
  TRegisterMap& FMap;
  TIdModBusClient FClient;
  std::vector<std::string> FErrorBar;
  TTcpCollectionCycle FCycle;
  TTcpCycleSettings FSettings;
};

// Whether the map's first entry is the firmware-version word and it read
// 0xFFFF, which a gateway answers for a meter instance that is switched off.
bool FirmwareWordAbsent(const TRegisterMap& Map);
