#include "CommandLine.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "ByteOrderDetection.h"
#include "SerialLine.h"

CLI::Validator HostPortCheck(bool PortRequired, std::uint16_t MinPort) {
  return CLI::Validator(
      [PortRequired, MinPort](std::string& Text) -> std::string {
        std::string reason;
        const auto parsed = ParseHostPort(Text, reason);
        if (!parsed) return reason;
        if (PortRequired && !parsed->Port) return "expects HOST:PORT, not '" + Text + "'";
        if (parsed->Port && *parsed->Port < MinPort)
          return "the port must be a number from " + std::to_string(MinPort) + " to 65535, not '" +
                 std::to_string(*parsed->Port) + "'";
        return {};
      },
      PortRequired ? "HOST:PORT" : "HOST[:PORT]");
}

CLI::Validator SecondsCheck(double Min, double Max) {
  const std::string range = CLI::detail::to_string(Min) + " to " + CLI::detail::to_string(Max);
  return CLI::Validator(
      [Min, Max, range](std::string& Text) -> std::string {
        double seconds = 0;
        if (!CLI::detail::lexical_cast(Text, seconds) || !std::isfinite(seconds) || seconds < Min ||
            seconds > Max)
          return "expects seconds from " + range + ", not '" + Text + "'";
        return {};
      },
      "SECONDS");
}

const CLI::Validator DecimalComma(
    [](std::string& Text) {
      if (std::count(Text.begin(), Text.end(), ',') == 1)
        std::replace(Text.begin(), Text.end(), ',', '.');
      return std::string();
    },
    "");

const CLI::Validator NonEmpty(
    [](std::string& Text) { return Text.empty() ? std::string("expects a name") : std::string(); },
    "");

std::vector<std::pair<std::string, TParityScheme>> ParityChoices() {
  std::vector<std::pair<std::string, TParityScheme>> choices;
  for (const TParityScheme parity : {psNone, psEven, psOdd})
    choices.emplace_back(ParityWord(parity), parity);
  return choices;
}

namespace {

std::string WithoutBlanks(std::string Text) {
  Text.erase(std::remove(Text.begin(), Text.end(), ' '), Text.end());
  return Text;
}

}  // namespace

CLI::Validator ByteOrderCheck() {
  std::vector<std::pair<std::string, EByteSequence>> orders;
  for (int i = 0; i < BYTE_SEQUENCE_COUNT; ++i)
    orders.emplace_back(ByteSequenceWord(static_cast<EByteSequence>(i)),
                        static_cast<EByteSequence>(i));
  return OneOf(orders, WithoutBlanks);
}

CLI::Option* AddParityOption(CLI::App& App, TParityScheme& Parity) {
  return App.add_option("--parity", Parity, "none, even or odd (default none)")
      ->type_name("P")
      ->transform(OneOf(ParityChoices()));
}

CLI::Option* AddBaudOption(CLI::App& App, std::uint32_t& BitRate) {
  return App
      .add_option("--baud", BitRate,
                  "bit rate, " + std::to_string(MIN_BIT_RATE) + " to " +
                      std::to_string(MAX_BIT_RATE) + " (default 115200)")
      ->type_name("RATE")
      ->check(CLI::Range(MIN_BIT_RATE, MAX_BIT_RATE));
}

namespace {

// The words of a list of line settings, each with its value, the default first.
template <typename T, std::size_t N, typename Word>
std::vector<std::pair<std::string, T>> LineChoices(const std::array<T, N>& Values, Word WordOf) {
  std::vector<std::pair<std::string, T>> choices;
  for (const T value : Values) choices.emplace_back(WordOf(value), value);
  return choices;
}

std::string NumberWord(int Number) {
  return std::to_string(Number);
}

}  // namespace

CLI::Option* AddDataBitsOption(CLI::App& App, TDataBits& DataBits) {
  return App.add_option("--data-bits", DataBits, "7 or 8 (default 8)")
      ->type_name("N")
      ->transform(OneOf(
          LineChoices(DATA_BITS, [](TDataBits Bits) { return NumberWord(DataBitsNumber(Bits)); })));
}

CLI::Option* AddStopBitsOption(CLI::App& App, TStopBits& StopBits) {
  return App.add_option("--stop-bits", StopBits, "1 or 2 (default 1)")
      ->type_name("N")
      ->transform(OneOf(
          LineChoices(STOP_BITS, [](TStopBits Bits) { return NumberWord(StopBitsNumber(Bits)); })));
}

CLI::Option* AddReadFunctionOption(CLI::App& App, EReadFunction& Function,
                                   const std::string& Purpose) {
  return App
      .add_option("--function", Function,
                  "3 or 4: read " + Purpose +
                      " as holding registers (3, default) or as input registers (4)")
      ->type_name("F")
      ->transform(OneOf<EReadFunction>(
          {{"3", EReadFunction::rfHoldingRegisters}, {"4", EReadFunction::rfInputRegisters}}));
}

CLI::Option* AddSlaveOption(CLI::App& App, int& Slave) {
  return App
      .add_option("--slave", Slave,
                  "slave address " + std::to_string(MIN_SLAVE_ADDRESS) + " to " +
                      std::to_string(MAX_SLAVE_ADDRESS) + " (default 1)")
      ->type_name("N")
      ->check(CLI::Range(MIN_SLAVE_ADDRESS, MAX_SLAVE_ADDRESS));
}

CLI::Option* AddModeOption(CLI::App& App, TTransmissionMode& Mode) {
  const CLI::Validator modes = OneOf(LineChoices(TRANSMISSION_MODES, ModeWord));
  return App.add_option("--mode", Mode, "framing, rtu or ascii (default rtu)")
      ->type_name("MODE")
      ->transform(modes);
}

CLI::Option* AddFastFramingOption(CLI::App& App, bool& FrameEndByLength) {
  return App.add_flag("--fast-framing", FrameEndByLength,
                      "end an RTU frame as soon as the bytes its function code announces have "
                      "arrived, instead of after the line's silence (which stays the rule for "
                      "functions of unpredictable length)");
}

CLI::Option* AddFormatOption(CLI::App& App, EOutputFormat& Format) {
  std::vector<std::pair<std::string, EOutputFormat>> choices;
  for (EOutputFormat format : ALL_OUTPUT_FORMATS) choices.emplace_back(FormatName(format), format);
  const CLI::Validator formats = OneOf(choices);
  return App.add_option("--format", Format, "table, csv, json or jsonl (default table)")
      ->type_name("FORMAT")
      ->transform(formats);
}

std::string THelpFormatter::make_help(const CLI::App* App, std::string, CLI::AppFormatMode) const {
  std::string help = FSynopsis + "\n" + make_description(App);
  for (const CLI::App* group : App->get_subcommands([](const CLI::App*) { return true; }))
    help += make_expanded(group);
  for (const std::string& group : App->get_groups()) {
    const auto options = App->get_options(
        [&group](const CLI::Option* Option) { return Option->get_group() == group; });
    if (!group.empty() && !options.empty()) help += make_group(group, false, options);
  }
  return help + "\n" + make_footer(App);
}

std::string THelpFormatter::make_expanded(const CLI::App* Group) const {
  std::string text = "\n" + Group->get_group() + " (" + Group->get_description() + "):\n";
  for (const CLI::Option* option : Group->get_options())
    if (option != Group->get_help_ptr()) text += make_option(option, false);
  return text;
}

std::string THelpFormatter::make_option_opts(const CLI::Option* Option) const {
  if (!Option->get_option_text().empty()) return " " + Option->get_option_text();
  if (Option->get_type_size() == 0) return {};
  // The type name without the validators' descriptions CLI11 appends.
  const std::string name = Option->get_type_name();
  return " " + name.substr(0, name.find(':'));
}

TCommandLine ParseCommandLine(CLI::App& App, const std::vector<std::string>& Arguments) {
  std::vector<std::string> lastFirst(Arguments.rbegin(), Arguments.rend());  // as CLI11 takes them
  const auto unexpected = [&] {
    std::string words;
    for (const std::string& word : App.remaining()) words += (words.empty() ? "" : " ") + word;
    return TCommandLine{TCommandLine::TAction::Error, "unexpected argument: " + words};
  };
  try {
    App.parse(lastFirst);
    return {};
  } catch (const CLI::CallForHelp&) {
    if (!App.remaining().empty()) return unexpected();
    return {TCommandLine::TAction::Help, App.help()};
  } catch (const CLI::CallForAllHelp&) {
    return {TCommandLine::TAction::Help, App.help("", CLI::AppFormatMode::All)};
  } catch (const CLI::CallForVersion& version) {
    return {TCommandLine::TAction::Version, version.what()};
  } catch (const CLI::ParseError& error) {
    return {TCommandLine::TAction::Error, error.what()};
  }
}

std::optional<int> FinishCommandLine(const TCommandLine& Parsed, const std::string& Program,
                                     const std::string& Synopsis, std::ostream& Out,
                                     std::ostream& Err) {
  switch (Parsed.Action) {
    case TCommandLine::TAction::Run:
      return std::nullopt;
    case TCommandLine::TAction::Help:
      Out << Parsed.Text;
      return 0;
    case TCommandLine::TAction::Version:
      Out << Parsed.Text << '\n';
      return 0;
    case TCommandLine::TAction::Error:
      break;
  }
  Err << Program << ": " << Parsed.Text << '\n'
      << Synopsis << "Try '" << Program << " --help' for more.\n";
  return 2;
}
