// kq517poll: polls a KQ517 meter from the command line and prints the values
// the window's grid would show. See PollUsage for the options.
#include "Commons.h"
#include "PollOptions.h"
#include "PollRunner.h"

#include <clocale>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");  // decimal separator of the user's locale
  const std::string program = "kq517poll";
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const TParsedCommandLine command = ParsePollCommandLine(arguments);

  switch (command.Action) {
    case TParsedCommandLine::TAction::Help:
      std::cout << PollUsage(program);
      return POLL_EXIT_OK;
    case TParsedCommandLine::TAction::Version: {
      const std::string version = GetVersionStr("");
      std::cout << program << " " << (version.empty() ? "(no version record)" : version) << '\n';
      return POLL_EXIT_OK;
    }
    case TParsedCommandLine::TAction::Error:
      std::cerr << program << ": " << command.Error << '\n'
                << PollSynopsis(program) << "Try '" << program << " --help' for more.\n";
      return POLL_EXIT_USAGE;
    case TParsedCommandLine::TAction::Poll: break;
  }
  try {
    return RunPoll(command.Options, std::cout, std::cerr);
  } catch (const std::exception& error) {
    std::cerr << program << ": " << error.what() << '\n';
    return POLL_EXIT_FAILED;
  }
}
