// --clock and --set-clock: the meter's date and time against the computer's.
#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

#include "CommissionRunner.h"
#include "MeterClock.h"
#include "PollRunner.h"
#include "RegisterToolRunner.h"
#include "WriteFrame.h"

namespace {

constexpr char PROGRAM[] = "kq517poll: ";

std::string IsoText(TLocalSeconds Seconds) {
  std::string text = LocalSecondsText(Seconds);
  text[10] = 'T';
  return text;
}

void PrintReading(const TClockReading& Reading, EOutputFormat Format, std::ostream& Out) {
  const std::string meter = LocalSecondsText(Reading.Meter);
  const std::string computer = LocalSecondsText(Reading.Computer);
  const std::string difference = std::to_string(Reading.Difference);
  switch (Format) {
    case EOutputFormat::ofTable:
      WriteAlignedTable(
          Out, {{"meter", meter}, {"computer", computer}, {"difference (s)", difference}}, {});
      return;
    case EOutputFormat::ofCsv: {
      std::string csv;
      AppendCsvRecord(csv, {"meter", "computer", "difference_s"});
      AppendCsvRecord(csv, {meter, computer, difference});
      Out << csv;
      return;
    }
    case EOutputFormat::ofJson:
    case EOutputFormat::ofJsonl: {
      nlohmann::ordered_json object;
      object["meter"] = IsoText(Reading.Meter);
      object["computer"] = IsoText(Reading.Computer);
      object["difference_s"] = Reading.Difference;
      Out << object.dump(Format == EOutputFormat::ofJson ? 2 : -1) << '\n';
      return;
    }
  }
}

}  // namespace

int RunClockTool(const TPollOptions& Options, std::ostream& Out, std::ostream& Err) {
  TRegisterMap map;
  if (!LoadPollMap(Options, map, Err)) return POLL_EXIT_FAILED;
  const auto layout =
      FindClock(map.Regs(), TMapSettings{Options.Float32, Options.MeterInstanceIndex});
  if (!layout) {
    Err << PROGRAM << "the map has no clock: it needs a date and a time entry with OBIS "
        << CLOCK_OBIS << '\n';
    return POLL_EXIT_FAILED;
  }
  const EByteSequence sequence =
      ByteSequenceFor(Options.Qvzt, Options.ByteSequenceIndex.value_or(BS_1_0_3_2));
  const bool single = false;
  if (Options.Registers.SetClock && Options.Registers.DryRun) {
    for (const auto& [start, words] : ClockWrites(*layout, ComputerLocalSeconds(), sequence)) {
      const std::vector<std::uint8_t> pdu = WriteRequestPdu(start, words, single);
      Out << (Options.Transport == ETransport::trSerial
                  ? "RTU " + HexBytes(RtuFrame(
                                 pdu, static_cast<std::uint8_t>(Options.Serial.SlaveAddress)))
                  : "TCP " +
                        HexBytes(TcpFrame(pdu, 1, static_cast<std::uint8_t>(Options.Tcp.UnitId))))
          << '\n';
    }
    return POLL_EXIT_OK;
  }
  const auto source = RegisterSourceFor(Options);
  if (Options.Registers.SetClock) {
    for (const auto& [start, words] : ClockWrites(*layout, ComputerLocalSeconds(), sequence)) {
      const TRegisterWrite write = source->Write(start, words, single);
      if (!write.Ok) {
        Err << PROGRAM << "setting the clock: " << write.Error << '\n';
        return POLL_EXIT_FAILED;
      }
    }
  }
  const TClockReading reading = ReadMeterClock(*source, *layout, sequence);
  if (!reading.Ok) {
    Err << PROGRAM << "reading the clock: " << reading.Error << '\n';
    return POLL_EXIT_FAILED;
  }
  PrintReading(reading, Options.Format, Out);
  const auto& maxDrift = Options.Registers.MaxDriftSeconds;
  if (maxDrift && static_cast<double>(std::llabs(reading.Difference)) > *maxDrift) {
    Err << PROGRAM << "the meter's clock is " << std::llabs(reading.Difference) << " s "
        << (reading.Difference < 0 ? "behind" : "ahead of") << " the computer's, more than "
        << *maxDrift << " s\n";
    return POLL_EXIT_FAILED;
  }
  return POLL_EXIT_OK;
}
