#include "RegisterOptions.h"

#include <charconv>

#include "PollOptions.h"
#include "ValueEncoding.h"

namespace {

std::optional<std::uint32_t> Number(std::string_view Text, std::uint32_t Max) {
  std::uint32_t value = 0;
  const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
  if (Text.empty() || ec != std::errc{} || end != Text.data() + Text.size() || value > Max)
    return std::nullopt;
  return value;
}

// "ADDR[:COUNT]": a register 0..65535 and a count 1..125 that stays within them.
std::string ParseReadRange(const std::string& Text, TRegisterToolOptions& Tools) {
  const auto colon = Text.find(':');
  const auto start = Number(std::string_view(Text).substr(0, colon), 65535);
  const auto count = colon == std::string::npos
                         ? std::optional<std::uint32_t>(1)
                         : Number(std::string_view(Text).substr(colon + 1), 125);
  if (!start || !count || *count == 0)
    return "expects ADDR[:COUNT], a register 0 to 65535 and a count 1 to 125, not '" + Text + "'";
  if (*start + *count > 65536u) return "'" + Text + "' goes past register 65535";
  Tools.ReadStart = static_cast<std::uint16_t>(*start);
  Tools.ReadCount = *count;
  return {};
}

}  // namespace

std::string ParseWriteItem(const std::string& Text, TWriteItem& Item) {
  Item.Argument = Text;
  const auto equals = Text.find('=');
  const auto address = Number(std::string_view(Text).substr(0, equals), 65535);
  if (equals == std::string::npos || !address)
    return "expects ADDR=VALUE[:TYPE] with a register 0 to 65535, not '" + Text + "'";
  Item.Address = static_cast<std::uint16_t>(*address);
  Item.Value = Text.substr(equals + 1);
  Item.Type = eWord;
  // A time holds colons itself: only a known type name after the last one is a type.
  const auto colon = Item.Value.rfind(':');
  if (colon != std::string::npos) {
    if (const auto type = WriteTypeFromName(std::string_view(Item.Value).substr(colon + 1))) {
      Item.Type = *type;
      Item.Value.erase(colon);
    }
  }
  return {};
}

void AddRegisterToolOptions(CLI::App& App, TPollOptions& o) {
  const std::string group = "Registers and clock";
  TRegisterToolOptions& t = o.Registers;
  CLI::Option* read =
      App.add_option_function<std::string>(
             "--read",
             [&t](const std::string& Text) {
               t.Tool = ERegisterTool::rtRead;
               ParseReadRange(Text, t);
             },
             "read COUNT registers (default 1, at most 125) from ADDR with --function, shown "
             "as hex, u16, s16 and from each on as int32, float32 and float64 in --byte-order")
          ->group(group)
          ->option_text("ADDR[:COUNT]")
          ->check(CLI::Validator(
              [](std::string& Text) {
                TRegisterToolOptions probe;
                return ParseReadRange(Text, probe);
              },
              "ADDR[:COUNT]"));
  CLI::Option* write =
      App.add_option_function<std::vector<std::string>>(
             "--write",
             [&t](const std::vector<std::string>& Texts) {
               t.Tool = ERegisterTool::rtWrite;
               for (const std::string& text : Texts) {
                 TWriteItem item;
                 ParseWriteItem(text, item);
                 t.Writes.push_back(item);
               }
             },
             "write VALUE at ADDR as TYPE (INT16 unless given: INT32, FLOAT32, FLOAT64, DATE32, "
             "TIME32, DATE24, TIME24 or a map code) in --byte-order with function 16, then "
             "read it back; repeatable")
          ->group(group)
          ->option_text("ADDR=VALUE[:TYPE]")
          ->check(CLI::Validator(
              [](std::string& Text) {
                TWriteItem probe;
                return ParseWriteItem(Text, probe);
              },
              "ADDR=VALUE[:TYPE]"));
  CLI::Option* clock =
      App.add_flag("--clock")
          ->description(
              "print the meter's date and time (the map's 0-0:1.0.0 entries), the computer's "
              "and the difference")
          ->group(group);
  CLI::Option* setClock =
      App.add_flag("--set-clock", t.SetClock,
                   "write the computer's local time into the meter's clock, then read it back")
          ->group(group);
  App.add_option("--max-drift", t.MaxDriftSeconds,
                 "with --clock: exit 1 when the clocks differ by more than S seconds")
      ->group(group)
      ->type_name("S")
      ->check(SecondsCheck(0, 1e9));
  App.add_flag("--dry-run", t.DryRun, "with --write or --set-clock: print the frames, send nothing")
      ->group(group);
  App.add_flag("--single", t.Single, "with --write: function 6 for a value of one register")
      ->group(group);

  read->excludes(write)->excludes(clock)->excludes(setClock);
  write->excludes(clock)->excludes(setClock);
  for (const char* mode : {"--scan-serial", "--detect", "--test"}) {
    if (CLI::Option* other = App.get_option_no_throw(mode)) {
      read->excludes(other);
      write->excludes(other);
      clock->excludes(other);
      setClock->excludes(other);
    }
  }
}

std::string FinishRegisterToolOptions(const CLI::App& App, TPollOptions& o) {
  TRegisterToolOptions& t = o.Registers;
  if (App.count("--clock") > 0 || t.SetClock) t.Tool = ERegisterTool::rtClock;
  if (t.MaxDriftSeconds && t.Tool != ERegisterTool::rtClock)
    return "--max-drift applies to --clock and --set-clock";
  if (t.DryRun && t.Tool != ERegisterTool::rtWrite && !t.SetClock)
    return "--dry-run applies to --write and --set-clock";
  if (t.Single && t.Tool != ERegisterTool::rtWrite) return "--single applies to --write";
  // Writes and the clock go to the holding registers; a --function beside them would be ignored.
  if (App.count("--function") > 0 &&
      (t.Tool == ERegisterTool::rtWrite || t.Tool == ERegisterTool::rtClock))
    return "--function applies to the poll and to --read";
  return {};
}

std::string RegisterToolSynopsis(const std::string& ProgramName) {
  return "       " + ProgramName +
         " --tcp ...|--serial ... --read ADDR[:COUNT] [--function 3|4] [--byte-order SEQ]\n"
         "       " +
         ProgramName +
         " --tcp ...|--serial ... --write ADDR=VALUE[:TYPE]... [--single] [--dry-run]\n"
         "       " +
         ProgramName + " --tcp ...|--serial ... --clock|--set-clock [--max-drift S] [--dry-run]\n";
}
