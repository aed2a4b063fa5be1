#pragma once
// The window's TCP collection cycle, driven by the poller's options: unit
// identifier and time-outs from the command line.

#include "CycleSource.h"
#include "PollOptions.h"
#include "RegisterMap.h"
#include "TcpCollectionCycle.h"

class TTcpCycleSource : public TCycleSource {
 public:
  TTcpCycleSource(const TPollOptions& Options, TRegisterMap& Map);
  TCycleOutcome RunCycle() override { return FCycle.CollectDataTCP(FSettings); }
  void Restart() override { FCycle.StartPoll(); }
  TFrameHook& FrameHook() override { return FClient.FrameHook(); }
  void AbortWaitsWhen(std::function<bool()> Aborted) override {
    FClient.AbortWait = std::move(Aborted);
  }

 private:
  TIdModBusClient FClient;
  TTcpCollectionCycle FCycle;
  TTcpCycleSettings FSettings;
};
