#pragma once
// The command-line layer shared by the headless programs (kq517poll,
// kq517sim and the ones to come): CLI11 checks with messages that name what
// was expected, the options every program spells the same way, and one way of
// turning a parse into help, version, error or go.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ModLinkTypes.h"
#include "NetworkEndpoint.h"
#include "OutputFormat.h"
#include "ReadFunction.h"

// HOST[:PORT] or [IPv6]:PORT; with PortRequired the port must be given, and
// a port below MinPort is refused (0 asks a server for any free port).
CLI::Validator HostPortCheck(bool PortRequired = false, std::uint16_t MinPort = 1);

// Seconds as a finite number from Min to Max (fractions allowed).
CLI::Validator SecondsCheck(double Min, double Max);

// A value that is not empty (a file or port name).
extern const CLI::Validator NonEmpty;

// One of a fixed list of words, each standing for a value of T; the option
// then receives that value. Normalize, when given, is applied to the typed
// text before it is compared (to ignore blanks, say). Unlike CLI11's
// CheckedTransformer, the values themselves are not accepted as input, so
// "--meter 0" cannot slip through as the first choice.
template <typename T>
CLI::Validator OneOf(std::vector<std::pair<std::string, T>> Choices,
                     std::string (*Normalize)(std::string) = nullptr) {
  std::string names;
  for (std::size_t i = 0; i < Choices.size(); ++i)
    names += (i == 0 ? "" : i + 1 == Choices.size() ? " or " : ", ") + Choices[i].first;
  return CLI::Validator(
      [Choices, Normalize, names](std::string& Text) -> std::string {
        const std::string typed = Normalize ? Normalize(Text) : Text;
        for (const auto& [name, value] : Choices)
          if (typed == name) {
            Text = std::to_string(static_cast<long long>(value));
            return {};
          }
        return "expects " + names + ", not '" + Text + "'";
      },
      "{" + names + "}");
}

// The parity words, none, even and odd, each with its value.
std::vector<std::pair<std::string, TParityScheme>> ParityChoices();
// The byte sequences as --byte-order spells them (1-0-3-2, ...), blanks
// ignored; the option receives the EByteSequence.
CLI::Validator ByteOrderCheck();

// Options every program spells the same way, with one range each.
CLI::Option* AddParityOption(CLI::App& App, TParityScheme& Parity);
// --mode rtu|ascii; the choices and those of the line options below are
// SerialLine.h's lists.
CLI::Option* AddModeOption(CLI::App& App, TTransmissionMode& Mode);
// --baud N: any bit rate the port takes, MIN_BIT_RATE to MAX_BIT_RATE.
CLI::Option* AddBaudOption(CLI::App& App, std::uint32_t& BitRate);
// --data-bits 7|8.
CLI::Option* AddDataBitsOption(CLI::App& App, TDataBits& DataBits);
// --stop-bits 1|2.
CLI::Option* AddStopBitsOption(CLI::App& App, TStopBits& StopBits);
// --function 3|4: the registers a read asks for, holding (3) or input (4).
// What is read is the caller's to say (Purpose, such as "the map's registers").
CLI::Option* AddReadFunctionOption(CLI::App& App, EReadFunction& Function,
                                   const std::string& Purpose);
// --slave N: a unicast slave address, MIN_SLAVE_ADDRESS to MAX_SLAVE_ADDRESS.
CLI::Option* AddSlaveOption(CLI::App& App, int& Slave);
// --fast-framing: RTU frames end by the length their function code announces.
CLI::Option* AddFastFramingOption(CLI::App& App, bool& FrameEndByLength);
CLI::Option* AddFormatOption(CLI::App& App, EOutputFormat& Format);

// The --help layout of the programs: the synopsis, the description, each
// option group and section with its options as "--name VALUE  what it does"
// (no type or range decoration), then the footer.
class THelpFormatter : public CLI::Formatter {
 public:
  explicit THelpFormatter(std::string Synopsis) : FSynopsis(std::move(Synopsis)) {}
  std::string make_help(const CLI::App* App, std::string, CLI::AppFormatMode) const override;
  std::string make_expanded(const CLI::App* Group) const override;
  std::string make_option_opts(const CLI::Option* Option) const override;

 private:
  std::string FSynopsis;
};

// What a command line asks for once parsed.
struct TCommandLine {
  enum class TAction { Run, Help, Version, Error } Action = TAction::Run;
  std::string Text;  // the help text, the version text, or what was wrong (one line)
};

// Parses Arguments (without the program name) into the fields App's options
// are bound to. --help wins over everything but a word that no option knows.
TCommandLine ParseCommandLine(CLI::App& App, const std::vector<std::string>& Arguments);

// Runs a parse result for a program's main: prints help or version on Out and
// returns 0, prints an error with the synopsis on Err and returns 2, or
// returns nullopt when the program is to run.
std::optional<int> FinishCommandLine(const TCommandLine& Parsed, const std::string& Program,
                                     const std::string& Synopsis, std::ostream& Out,
                                     std::ostream& Err);
