#pragma once
// The window's serial collection cycle, with the serial library's results
// taken from its default main-thread queue, which RunCycle drains until the
// reply has been handled.

#include <optional>
#include <string>

#include "CycleSource.h"
#include "PollOptions.h"
#include "RegisterMap.h"
#include "SerialCollectionCycle.h"

class TSerialCycleSource : public TCycleSource {
 public:
  TSerialCycleSource(const TPollOptions& Options, TRegisterMap& Map);
  ~TSerialCycleSource() override;
  TCycleOutcome RunCycle() override;
  void Restart() override { FCycle.StartPoll(); }
  TFrameHook& FrameHook() override { return FConnection.FrameHook(); }
  void AbortWaitsWhen(std::function<bool()> Aborted) override { FAborted = std::move(Aborted); }

 private:
  TRegisterMap& FMap;
  std::function<bool()> FAborted;
  TQueuedMainThread& FMainThread;
  TModbusConnection FConnection;
  TModbusClient FClient;
  TSerialCycleSettings FSettings;
  TSerialCollectionCycle FCycle;
  std::optional<TCycleOutcome> FOutcome;
  std::string FWorkerError;
};
