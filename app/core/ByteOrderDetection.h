#pragma once
// Finding a meter's byte sequence and register layout by plausibility: the
// map is read once in each layout (the 64-bit one and the 32-bit-float one),
// every reading is decoded under each of the four byte sequences, and each
// decoding is scored by what a meter can show. An entry is recognised by its
// OBIS code (value group C, processing group D) or, for dates and times, by
// its type:
//
//   firmware-version word (first entry of the normal map)  1 .. 9999
//   frequency            C 14            D 7               45 .. 65 Hz
//   voltage              C 12/32/52/72   D 7               0 .. 500 V
//   power factor         C 13/33/53/73   D 7               -1 .. 1
//   energy               C 1 .. 80       D 8 or 9          not negative, below 1e12,
//                                                          0 or at least 0.001
//   date (types D, d)    a calendar date of 1990 .. 2099
//   time (types T, t)    00:00:00 .. 23:59:59
//
// A wrong byte sequence turns most of these into nonsense (a voltage of 1e-300,
// a firmware of 26368, the 45th month), so the right one scores every check.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "RegisterSource.h"
#include "RegisterTypes.h"

struct TDetectionCandidate {
  EByteSequence Sequence = BS_1_0_3_2;
  bool Float32 = false;             // the 32-bit-float layout
  int Score = 0;                    // checks passed ...
  int Total = 0;                    // ... of those that apply to the map
  std::vector<std::string> Failed;  // "Frequenza di rete (Hz) = 3.2e+08" for each failed check
};

struct TDetectionResult {
  // Every decoding of every layout that was read, best first.
  std::vector<TDetectionCandidate> Ranking;
  // Why a layout could not be read: "32-bit-float layout: Eccezione Server: ...".
  std::vector<std::string> LayoutErrors;
  // Another byte sequence scores as well as the best one.
  bool Ambiguous = false;

  bool Found() const { return !Ranking.empty() && Ranking.front().Total > 0; }
  const TDetectionCandidate& Winner() const { return Ranking.front(); }
};

// Scores the words of one reading (first word at the map's base address)
// decoded under Sequence in the given layout.
TDetectionCandidate ScoreReading(const std::vector<TConfigRecord>& Regs,
                                 std::span<const std::uint16_t> Words, EByteSequence Sequence,
                                 bool Float32);

// Reads the map from Source (the table the poll reads, Function) for meter
// instance MeterInstanceIndex (0..4) in both layouts and ranks every decoding:
// by score, then the 64-bit layout before the 32-bit-float one, then the byte
// sequences in the window's order.
TDetectionResult DetectByteOrder(const std::vector<TConfigRecord>& Regs, int MeterInstanceIndex,
                                 TRegisterSource& Source,
                                 EReadFunction Function = DEFAULT_READ_FUNCTION);

// "byte order 3-2-1-0, 64-bit layout, score 31/31".
std::string CandidateText(const TDetectionCandidate& Candidate);

// The verdict in one line: "best: byte order ..." or, when ambiguous, which
// byte sequences tie; "no layout could be read" when nothing was read.
std::string VerdictText(const TDetectionResult& Result);
