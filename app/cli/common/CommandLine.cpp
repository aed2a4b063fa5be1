#include "CommandLine.h"

#include <cmath>
#include <ostream>

std::optional<THostPort> ParseHostPort(const std::string& Text, std::string& Reason) {
  THostPort target;
  std::string port;
  bool portGiven = false;
  if (!Text.empty() && Text.front() == '[') {
    const auto close = Text.find(']');
    if (close == std::string::npos) {
      Reason = "missing ']' in '" + Text + "'";
      return std::nullopt;
    }
    target.Host = Text.substr(1, close - 1);
    const std::string rest = Text.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') {
      Reason = "unexpected text after ']' in '" + Text + "'";
      return std::nullopt;
    }
    portGiven = !rest.empty();
    if (portGiven) port = rest.substr(1);
  } else if (const auto colon = Text.find(':');
             colon != std::string::npos && Text.find(':', colon + 1) == std::string::npos) {
    target.Host = Text.substr(0, colon);
    port = Text.substr(colon + 1);
    portGiven = true;
  } else {
    target.Host = Text;  // no colon, or a bare IPv6 address
  }
  if (target.Host.empty()) {
    Reason = "missing host in '" + Text + "'";
    return std::nullopt;
  }
  if (portGiven) {
    const bool digits = !port.empty() && port.size() <= 5 &&
                        port.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stol(port) > 65535) {
      Reason = "the port must be a number from 0 to 65535, not '" + port + "'";
      return std::nullopt;
    }
    target.Port = static_cast<std::uint16_t>(std::stol(port));
  }
  return target;
}

THostPort::THostPort(const std::string& Text) {
  std::string reason;
  if (const auto parsed = ParseHostPort(Text, reason)) *this = *parsed;
}

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

const CLI::Validator NonEmpty(
    [](std::string& Text) { return Text.empty() ? std::string("expects a name") : std::string(); },
    "");

CLI::Option* AddParityOption(CLI::App& App, TParityScheme& Parity) {
  const CLI::Validator parities =
      OneOf<TParityScheme>({{"none", psNone}, {"even", psEven}, {"odd", psOdd}});
  return App.add_option("--parity", Parity, "none, even or odd (default none)")
      ->type_name("P")
      ->transform(parities);
}

CLI::Option* AddModeOption(CLI::App& App, TTransmissionMode& Mode) {
  const CLI::Validator modes = OneOf<TTransmissionMode>({{"rtu", tmRTU}, {"ascii", tmASCII}});
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
