#include "RegisterToolRunner.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CommissionRunner.h"
#include "PollLoop.h"
#include "RegisterRows.h"
#include "ValueEncoding.h"
#include "WriteFrame.h"

namespace {

constexpr char PROGRAM[] = "kq517poll: ";

EByteSequence SequenceOf(const TPollOptions& Options) {
  return ByteSequenceFor(Options.Qvzt, Options.ByteSequenceIndex.value_or(BS_1_0_3_2));
}

nlohmann::ordered_json JsonNumber(const std::string& Text) {
  if (Text.empty() || Text == "NAN" || Text == "INF" || Text == "-INF") return nullptr;
  return nlohmann::ordered_json::parse(Text);
}

// The rows in the chosen format: an aligned table, CSV with a header, one
// JSON object per register and line, or one array of them.
void PrintRows(const std::vector<TRegisterRow>& Rows, EOutputFormat Format, std::ostream& Out) {
  std::vector<TRegisterRowTexts> texts;
  for (const TRegisterRow& row : Rows) texts.push_back(RegisterRowTexts(row));
  const auto fields = [](const TRegisterRowTexts& t) {
    return std::vector<std::string_view>{t.Address, t.Hex,     t.Unsigned16, t.Signed16,
                                         t.Int32,   t.Float32, t.Float64};
  };
  switch (Format) {
    case EOutputFormat::ofTable: {
      std::vector<std::vector<std::string_view>> table{std::vector<std::string_view>(
          std::begin(REGISTER_ROW_COLUMNS), std::end(REGISTER_ROW_COLUMNS))};
      for (const auto& t : texts) table.push_back(fields(t));
      WriteAlignedTable(Out, table, {0, 2, 3, 4, 5, 6});
      return;
    }
    case EOutputFormat::ofCsv: {
      std::string csv;
      AppendCsvRecord(csv, std::vector<std::string_view>(std::begin(REGISTER_ROW_COLUMNS),
                                                         std::end(REGISTER_ROW_COLUMNS)));
      for (const auto& t : texts) AppendCsvRecord(csv, fields(t));
      Out << csv;
      return;
    }
    case EOutputFormat::ofJson:
    case EOutputFormat::ofJsonl: {
      nlohmann::ordered_json all = nlohmann::ordered_json::array();
      for (std::size_t i = 0; i < Rows.size(); ++i) {
        nlohmann::ordered_json row;
        row["address"] = Rows[i].Address;
        row["hex"] = texts[i].Hex;
        row["u16"] = Rows[i].Word;
        row["s16"] = static_cast<std::int16_t>(Rows[i].Word);
        row["int32"] = Rows[i].Int32 ? nlohmann::ordered_json(*Rows[i].Int32) : nullptr;
        row["float32"] = JsonNumber(texts[i].Float32);
        row["float64"] = JsonNumber(texts[i].Float64);
        if (Format == EOutputFormat::ofJsonl)
          Out << row.dump() << '\n';
        else
          all.push_back(row);
      }
      if (Format == EOutputFormat::ofJson) Out << all.dump(2) << '\n';
      return;
    }
  }
}

// Encodes every --write before anything is sent; false (with the reason on
// Err) at the first value that does not fit its type.
bool EncodeWrites(const TPollOptions& Options, std::vector<std::vector<std::uint16_t>>& Words,
                  std::ostream& Err) {
  for (const TWriteItem& item : Options.Registers.Writes) {
    const TEncodedValue encoded =
        EncodeValueText(item.Type, false, item.Value, SequenceOf(Options));
    if (!encoded.Ok()) {
      Err << PROGRAM << "--write " << item.Argument << ": "
          << RefusalText(encoded.Refusal, WriteTypeName(item.Type), item.Value)
          << "; nothing sent\n";
      return false;
    }
    if (item.Address + encoded.Words.size() > 65536u) {
      Err << PROGRAM << "--write " << item.Argument << ": goes past register 65535; nothing sent\n";
      return false;
    }
    if (Options.Registers.Single && encoded.Words.size() != 1) {
      Err << PROGRAM << "--write " << item.Argument << ": --single writes one register, "
          << WriteTypeName(item.Type) << " takes " << encoded.Words.size() << "; nothing sent\n";
      return false;
    }
    Words.push_back(encoded.Words);
  }
  return true;
}

// "TX 01 10 0B B8 ...": the frame the transport would send.
std::string FrameLine(const TPollOptions& Options, std::uint16_t Start,
                      const std::vector<std::uint16_t>& Words, bool Single) {
  const std::vector<std::uint8_t> pdu = WriteRequestPdu(Start, Words, Single);
  if (Options.Transport == ETransport::trSerial)
    return "RTU " + HexBytes(RtuFrame(pdu, static_cast<std::uint8_t>(Options.Serial.SlaveAddress)));
  return "TCP " + HexBytes(TcpFrame(pdu, 1, static_cast<std::uint8_t>(Options.Tcp.UnitId)));
}

std::string Range(std::uint16_t Start, std::size_t Count) {
  return std::to_string(Start) + (Count == 1 ? "" : "+" + std::to_string(Count));
}

// Writes Words at Start, reads them back and adds what the device holds to
// Rows; true when the write was acknowledged and reads back equal.
bool WriteAndReadBack(TRegisterSource& Source, std::uint16_t Start,
                      const std::vector<std::uint16_t>& Words, bool Single, EByteSequence Sequence,
                      std::vector<TRegisterRow>& Rows, std::ostream& Err) {
  const std::string where = "write " + Range(Start, Words.size());
  const TRegisterWrite write = Source.Write(Start, Words, Single);
  if (!write.Ok) {
    Err << PROGRAM << where << ": " << write.Error << '\n';
    return false;
  }
  const TRegisterRead back = Source.Read(Start, static_cast<std::uint32_t>(Words.size()));
  if (!back.Ok) {
    Err << PROGRAM << where << " acknowledged, but the read-back failed: " << back.Error << '\n';
    return false;
  }
  const std::vector<TRegisterRow> rows = RegisterRows(Start, back.Words, Sequence);
  Rows.insert(Rows.end(), rows.begin(), rows.end());
  if (back.Words != Words) {
    Err << PROGRAM << where << " acknowledged, but the device holds other values\n";
    return false;
  }
  return true;
}

}  // namespace

int RunRegisterTool(const TPollOptions& Options, std::ostream& Out, std::ostream& Err) {
  switch (Options.Registers.Tool) {
    case ERegisterTool::rtRead:
      return RunReadTool(Options, Out, Err);
    case ERegisterTool::rtWrite:
      return RunWriteTool(Options, Out, Err);
    case ERegisterTool::rtClock:
      return RunClockTool(Options, Out, Err);
    case ERegisterTool::rtNone:
      break;
  }
  return POLL_EXIT_USAGE;
}

int RunReadTool(const TPollOptions& Options, std::ostream& Out, std::ostream& Err) {
  const auto source = RegisterSourceFor(Options);
  const TRegisterRead read =
      source->ReadTable(Options.Function, Options.Registers.ReadStart, Options.Registers.ReadCount);
  if (!read.Ok) {
    Err << PROGRAM << "read " << Range(Options.Registers.ReadStart, Options.Registers.ReadCount)
        << ": " << read.Error << '\n';
    return POLL_EXIT_FAILED;
  }
  PrintRows(RegisterRows(Options.Registers.ReadStart, read.Words, SequenceOf(Options)),
            Options.Format, Out);
  return POLL_EXIT_OK;
}

int RunWriteTool(const TPollOptions& Options, std::ostream& Out, std::ostream& Err) {
  std::vector<std::vector<std::uint16_t>> words;
  if (!EncodeWrites(Options, words, Err)) return POLL_EXIT_USAGE;
  const auto& items = Options.Registers.Writes;
  const bool single = Options.Registers.Single;
  if (Options.Registers.DryRun) {
    for (std::size_t i = 0; i < items.size(); ++i)
      Out << FrameLine(Options, items[i].Address, words[i], single) << '\n';
    return POLL_EXIT_OK;
  }
  const auto source = RegisterSourceFor(Options);
  std::vector<TRegisterRow> rows;
  bool allGood = true;
  for (std::size_t i = 0; i < items.size(); ++i)
    allGood &= WriteAndReadBack(*source, items[i].Address, words[i], single, SequenceOf(Options),
                                rows, Err);
  if (!rows.empty()) PrintRows(rows, Options.Format, Out);
  return allGood ? POLL_EXIT_OK : POLL_EXIT_FAILED;
}
