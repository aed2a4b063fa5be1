// kq517poll --detect: finds the byte order and layout of a meter.
#include "ByteOrderDetection.h"
#include "CommissionRunner.h"
#include "PollLoop.h"
#include "PollRunner.h"

namespace {
constexpr char PROGRAM[] = "kq517poll: ";
}  // namespace

int RunDetectMode(const TPollOptions& Options, std::ostream& Out, std::ostream& Err) {
  TRegisterMap map;
  if (!LoadPollMap(Options, map, Err)) return POLL_EXIT_FAILED;
  const auto source = RegisterSourceFor(Options);
  const TDetectionResult result =
      DetectByteOrder(map.Regs(), Options.MeterInstanceIndex, *source, Options.Function);
  for (const std::string& error : result.LayoutErrors) Err << PROGRAM << error << '\n';
  int rank = 1;
  for (const TDetectionCandidate& candidate : result.Ranking)
    Out << rank++ << ". " << CandidateText(candidate) << '\n';
  Out << VerdictText(result) << '\n';
  if (result.Found() && !result.Ambiguous) {
    for (const std::string& failed : result.Winner().Failed)
      Out << "  implausible: " << failed << '\n';
    return POLL_EXIT_OK;
  }
  return POLL_EXIT_FAILED;
}
