#include "PollRunner.h"

#include "RegisterMap.h"
#include "SerialPollRunner.h"
#include "TcpCollectionCycle.h"
#include "ValueDecoding.h"

#include <chrono>
#include <exception>
#include <thread>

namespace {

constexpr char PROGRAM[] = "kq517poll: ";

// Loads the map the options name and shapes its grid; false (with the reason
// on Err) when the file cannot be read or is not a valid map.
bool LoadMap(const TPollOptions& Options, TRegisterMap& Map, std::ostream& Err) {
  const std::string file = Options.MapFileName();
  const TMapSettings settings{Options.Float32, Options.MeterInstanceIndex};
  try {
    if (Map.LoadConfig(Options.Qvzt ? mpQVZT : mpNormal, file, settings) != TLoadResult::lrOk) {
      Err << PROGRAM << file << ": " << INVALID_MAP_MESSAGE << '\n';
      return false;
    }
  } catch (const std::exception& error) {
    Err << PROGRAM << "cannot read the map file '" << file << "': " << error.what() << '\n';
    return false;
  }
  Map.UpdateGridStruct();
  Map.UpdateGridData(false, Options.Float32);
  return true;
}

void PauseBetweenCycles(double Seconds) {
  if (Seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(Seconds));
}

// The cycles over Modbus TCP, as the window runs them from its poll timer: a
// failed cycle ends the poll, an undecoded one does not.
int RunTcpPoll(const TTcpTarget& Target, const TPollOptions& Options, TRegisterMap& Map,
               std::ostream& Out, std::ostream& Err) {
  TIdModBusClient client;
  std::vector<std::string> errorBar;
  TTcpCollectionCycle cycle(client, Map, [&](const std::string& Text) { errorBar.push_back(Text); });
  // The cycle sets the window's IPv4; an address with colons ([::1]:502 on
  // the command line) can only be reached over IPv6.
  if (Target.Host.find(':') != std::string::npos) client.SetIPVersion(TIPVersion::IPv6);

  TTcpCycleSettings settings;
  settings.Host = Target.Host;
  settings.PortText = std::to_string(Target.Port);
  settings.LeaveConnectionOpen = Options.LeaveOpen;
  settings.BytesSequenceIndex = Options.ByteSequenceIndex.value_or(BS_1_0_3_2);
  settings.QvztMode = Options.Qvzt;
  settings.Float32 = Options.Float32;
  settings.MeterInstanceIndex = Options.MeterInstanceIndex;
  settings.DecimalSeparator = CLocaleDecimalSeparator();

  TPollPrinter printer(Out, Options.Format);
  int status = POLL_EXIT_OK;
  cycle.StartPoll();
  for (int n = 1; n <= Options.Count; ++n) {
    if (n > 1) PauseBetweenCycles(Options.IntervalSeconds);
    errorBar.clear();
    bool result = false;
    try {
      result = cycle.PollTCPUpdate(settings);
    } catch (const std::exception& error) {
      Err << PROGRAM << error.what() << '\n';
      return POLL_EXIT_FAILED;
    }
    printer.PrintCycle(Map.Grid().Rows());
    if (cycle.Decoded()) continue;

    status = POLL_EXIT_FAILED;
    Err << PROGRAM << "cycle " << n << " of " << Options.Count << ": ";
    if (!errorBar.empty()) Err << errorBar.back();
    else if (!cycle.LastError().empty()) Err << cycle.LastError();
    else Err << "no complete reply from the device (time-out or unexpected reply)";
    Err << '\n';
    if (!result) break;  // the window stops its poll here too
  }
  return status;
}

}  // namespace

int RunPoll(const TPollOptions& Options, std::ostream& Out, std::ostream& Err) {
  TRegisterMap map;
  if (!LoadMap(Options, map, Err)) return POLL_EXIT_FAILED;
  if (const auto* tcp = std::get_if<TTcpTarget>(&Options.Target))
    return RunTcpPoll(*tcp, Options, map, Out, Err);
  if (const auto* serial = std::get_if<TSerialTarget>(&Options.Target))
    return RunSerialPoll(*serial, Options, map, Out, Err);
  Err << PROGRAM << "no device given\n";
  return POLL_EXIT_USAGE;
}
