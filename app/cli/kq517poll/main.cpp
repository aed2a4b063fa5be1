// kq517poll: polls a KQ517 meter from the command line and prints the values
// the window's grid would show. See PollUsage for the options.
#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "PollOptions.h"
#include "PollRunner.h"
#include "platform/ProcessSignals.h"

int main(int argc, char** argv) {
  // The table shows the user's decimal separator; everything else the
  // program writes, and every number the C library formats, uses '.'.
  std::setlocale(LC_ALL, "");
  const std::string separator = UserDecimalSeparator();
  std::setlocale(LC_NUMERIC, "C");
  const std::string program = "kq517poll";
  TParsedCommandLine command = ParsePollCommandLine({argv + 1, argv + argc});
  command.Options.DecimalSeparator = separator;
  // A metrics server outlives a scraper that hangs up mid-reply (the HTTP
  // library writes without MSG_NOSIGNAL). Otherwise a reader that goes away
  // (| head) ends the program quietly, as usual.
  if (command.Options.MetricsAddress) IgnoreBrokenPipes();

  switch (command.Action) {
    case TParsedCommandLine::TAction::Help:
      std::cout << PollUsage(program);
      return POLL_EXIT_OK;
    case TParsedCommandLine::TAction::Version:
      std::cout << PollVersion() << '\n';
      return POLL_EXIT_OK;
    case TParsedCommandLine::TAction::Error:
      std::cerr << program << ": " << command.Error << '\n'
                << PollSynopsis(program) << "Try '" << program << " --help' for more.\n";
      return POLL_EXIT_USAGE;
    case TParsedCommandLine::TAction::Poll:
      break;
  }
  try {
    return RunPoll(command.Options, std::cout, std::cerr);
  } catch (const std::exception& error) {
    std::cerr << program << ": " << error.what() << '\n';
    return POLL_EXIT_FAILED;
  }
}
