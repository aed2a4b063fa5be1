#include "FrameSummary.h"

#include <array>
#include <iterator>
#include <string_view>

#include "PduSize.h"

namespace {

using TBytes = std::span<const std::uint8_t>;

constexpr std::size_t TCP_HEADER_SIZE = 7;  // transaction, protocol, length, unit
constexpr std::size_t RTU_CHECK_SIZE = 2;   // CRC-16

std::uint16_t Word(TBytes Pdu, std::size_t At) {
  return static_cast<std::uint16_t>(Pdu[At] << 8 | Pdu[At + 1]);
}

int HexDigit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// ':' hex pairs (address, PDU, LRC) and CR LF; the line end may be missing
// from a frame that was cut short.
std::optional<std::vector<std::uint8_t>> AsciiContent(TBytes Bytes) {
  if (Bytes.empty() || Bytes[0] != ':') return std::nullopt;
  std::size_t end = Bytes.size();
  while (end > 1 && (Bytes[end - 1] == '\r' || Bytes[end - 1] == '\n')) --end;
  const std::size_t digits = end - 1;
  if (digits % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> content;
  content.reserve(digits / 2);
  for (std::size_t i = 1; i + 1 < end; i += 2) {
    const int high = HexDigit(Bytes[i]);
    const int low = HexDigit(Bytes[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    content.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return content;
}

// Every word of a summary, in each language, in one table. "%1" and "%2"
// stand for the numbers and texts that go in, so that each language keeps
// its own word order.
enum EPhrase : std::uint8_t {
  phReadCoils,
  phReadDiscreteInputs,
  phReadHoldingRegisters,
  phReadInputRegisters,
  phWriteSingleCoil,
  phWriteSingleRegister,
  phReadExceptionStatus,
  phDiagnostics,
  phGetCommEventCounter,
  phGetCommEventLog,
  phWriteMultipleCoils,
  phWriteMultipleRegisters,
  phReportServerId,
  phReadFileRecord,
  phWriteFileRecord,
  phMaskWriteRegister,
  phReadWriteMultipleRegisters,
  phReadFifoQueue,
  phEncapsulatedInterfaceTransport,
  phFunction,
  phCoilOn,
  phCoilOff,
  phCoilNeither,
  phAndWrite,
  phReplyBytesOfBits,
  phReplyByteOfBits,
  phReplyRegisters,
  phReplyRegister,
  phReply,
  phExceptionLength,
  phException,
  phUnit,
  phBroadcast,
  phSlave,
  phNoFunctionCode,
  phLengthErrorOf,
  phReplyLengthErrorOf,
  phCrcError,
  phLrcError,
  phChecksumError,
  phTimeout,
  phTimeoutAfter,
  phLengthErrorBytes,
  phLengthErrorByte,
  phMalformedBytes,
  phMalformedByte,
  phUnmatched,
  phNotMatched,
  phLineNoiseBytes,
  phLineNoiseByte,
  phIllegalFunction,
  phIllegalDataAddress,
  phIllegalDataValue,
  phServerDeviceFailure,
  phAcknowledge,
  phServerDeviceBusy,
  phNegativeAcknowledge,
  phMemoryParityError,
  phGatewayPathUnavailable,
  phGatewayTargetFailed,
  phUnknownException,
  phCount
};

struct TPhrase {
  EPhrase Id;
  const char* English;
  const char* Italian;
};

constexpr TPhrase PHRASES[] = {
    {phReadCoils, "read coils", "lettura coil"},
    {phReadDiscreteInputs, "read discrete inputs", "lettura ingressi discreti"},
    {phReadHoldingRegisters, "read holding registers", "lettura registri holding"},
    {phReadInputRegisters, "read input registers", "lettura registri input"},
    {phWriteSingleCoil, "write single coil", "scrittura coil singolo"},
    {phWriteSingleRegister, "write single register", "scrittura registro singolo"},
    {phReadExceptionStatus, "read exception status", "lettura stato eccezioni"},
    {phDiagnostics, "diagnostics", "diagnostica"},
    {phGetCommEventCounter, "get comm event counter", "contatore eventi di comunicazione"},
    {phGetCommEventLog, "get comm event log", "registro eventi di comunicazione"},
    {phWriteMultipleCoils, "write multiple coils", "scrittura coil multipli"},
    {phWriteMultipleRegisters, "write multiple registers", "scrittura registri multipli"},
    {phReportServerId, "report server id", "identificativo del server"},
    {phReadFileRecord, "read file record", "lettura record di file"},
    {phWriteFileRecord, "write file record", "scrittura record di file"},
    {phMaskWriteRegister, "mask write register", "scrittura registro con maschera"},
    {phReadWriteMultipleRegisters, "read/write multiple registers",
     "lettura/scrittura registri multipli"},
    {phReadFifoQueue, "read FIFO queue", "lettura coda FIFO"},
    {phEncapsulatedInterfaceTransport, "encapsulated interface transport",
     "trasporto interfaccia incapsulata"},
    {phFunction, "function %1", "funzione %1"},
    {phCoilOn, "on", "acceso"},
    {phCoilOff, "off", "spento"},
    {phCoilNeither, "value %1 (neither on nor off)", "valore %1 (né acceso né spento)"},
    {phAndWrite, "%1, write %2", "%1, scrittura %2"},
    {phReplyBytesOfBits, "reply %1 bytes of bits", "risposta %1 byte di bit"},
    {phReplyByteOfBits, "reply %1 byte of bits", "risposta %1 byte di bit"},
    {phReplyRegisters, "reply %1 registers", "risposta %1 registri"},
    {phReplyRegister, "reply %1 register", "risposta %1 registro"},
    {phReply, "reply %1", "risposta %1"},
    {phExceptionLength, "exception reply of %1 bytes (length error)",
     "risposta di eccezione di %1 byte (errore di lunghezza)"},
    {phException, "exception %1 %2", "eccezione %1 %2"},
    {phUnit, "unit %1 ", "unità %1 "},
    {phBroadcast, "broadcast ", "broadcast "},
    {phSlave, "slave %1 ", "slave %1 "},
    {phNoFunctionCode, "frame without function code", "frame senza codice funzione"},
    {phLengthErrorOf, "%1 (length error)", "%1 (errore di lunghezza)"},
    {phReplyLengthErrorOf, "reply %1 (length error)", "risposta %1 (errore di lunghezza)"},
    {phCrcError, "CRC error", "errore CRC"},
    {phLrcError, "LRC error", "errore LRC"},
    {phChecksumError, "checksum error", "errore di checksum"},
    {phTimeout, "time-out", "time-out"},
    {phTimeoutAfter, "time-out after %1 bytes", "time-out dopo %1 byte"},
    {phLengthErrorBytes, "length error (%1 bytes)", "errore di lunghezza (%1 byte)"},
    {phLengthErrorByte, "length error (%1 byte)", "errore di lunghezza (%1 byte)"},
    {phMalformedBytes, "malformed frame (%1 bytes)", "frame malformato (%1 byte)"},
    {phMalformedByte, "malformed frame (%1 byte)", "frame malformato (%1 byte)"},
    {phUnmatched, "unmatched %1", "non attesa: %1"},
    {phNotMatched, "not matched: %1", "non abbinato: %1"},
    {phLineNoiseBytes, "line noise (%1 bytes)", "disturbo sulla linea (%1 byte)"},
    {phLineNoiseByte, "line noise (%1 byte)", "disturbo sulla linea (%1 byte)"},
    {phIllegalFunction, "illegal function", "funzione non ammessa"},
    {phIllegalDataAddress, "illegal data address", "indirizzo dati non ammesso"},
    {phIllegalDataValue, "illegal data value", "valore dati non ammesso"},
    {phServerDeviceFailure, "server device failure", "guasto del dispositivo"},
    {phAcknowledge, "acknowledge", "acknowledge"},
    {phServerDeviceBusy, "server device busy", "dispositivo occupato"},
    {phNegativeAcknowledge, "negative acknowledge", "acknowledge negativo"},
    {phMemoryParityError, "memory parity error", "errore di parità della memoria"},
    {phGatewayPathUnavailable, "gateway path unavailable", "percorso del gateway non disponibile"},
    {phGatewayTargetFailed, "gateway target device failed to respond",
     "nessuna risposta dal dispositivo dietro il gateway"},
    {phUnknownException, "unknown exception", "eccezione sconosciuta"},
};
static_assert(std::size(PHRASES) == phCount, "one row per phrase");

constexpr bool InOrder() {
  for (std::size_t i = 0; i < std::size(PHRASES); ++i)
    if (PHRASES[i].Id != i) return false;
  return true;
}
static_assert(InOrder(), "rows in the order of EPhrase");

// The phrase in Language with %1 and %2 filled in.
std::string Say(TSummaryLanguage Language, EPhrase Id, const std::string& First = {},
                const std::string& Second = {}) {
  const TPhrase& phrase = PHRASES[Id];
  const std::string_view text =
      Language == TSummaryLanguage::slItalian ? phrase.Italian : phrase.English;
  std::string said;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == '1' || text[i + 1] == '2')) {
      said += text[++i] == '1' ? First : Second;
    } else {
      said += text[i];
    }
  }
  return said;
}

std::string N(std::size_t Value) {
  return std::to_string(Value);
}

// Counts of bytes: the phrase for one byte or for several.
std::string SayBytes(TSummaryLanguage Language, EPhrase Several, EPhrase One, std::size_t Count) {
  return Say(Language, Count == 1 ? One : Several, N(Count));
}

struct TFunction {
  std::uint8_t Code;
  EPhrase Name;
};
constexpr std::array<TFunction, 19> FUNCTIONS = {{
    {1, phReadCoils},
    {2, phReadDiscreteInputs},
    {3, phReadHoldingRegisters},
    {4, phReadInputRegisters},
    {5, phWriteSingleCoil},
    {6, phWriteSingleRegister},
    {7, phReadExceptionStatus},
    {8, phDiagnostics},
    {11, phGetCommEventCounter},
    {12, phGetCommEventLog},
    {15, phWriteMultipleCoils},
    {16, phWriteMultipleRegisters},
    {17, phReportServerId},
    {20, phReadFileRecord},
    {21, phWriteFileRecord},
    {22, phMaskWriteRegister},
    {23, phReadWriteMultipleRegisters},
    {24, phReadFifoQueue},
    {43, phEncapsulatedInterfaceTransport},
}};

// Describes one frame in one language.
class TDescriber {
 public:
  explicit TDescriber(TSummaryLanguage Language) : L(Language) {}

  std::string FunctionName(std::uint8_t Code) const {
    for (const TFunction& f : FUNCTIONS)
      if (f.Code == Code) return Say(L, f.Name);
    return Say(L, phFunction, N(Code));
  }

  std::string CoilValue(std::uint16_t Value) const {
    if (Value == 0xFF00) return Say(L, phCoilOn);
    if (Value == 0x0000) return Say(L, phCoilOff);
    return Say(L, phCoilNeither, N(Value));
  }

  // A request's fields; the size was checked by FitsRequest.
  std::string RequestText(TBytes Pdu) const {
    const std::uint8_t code = Pdu[0];
    const std::string name = FunctionName(code);
    switch (code) {
      case 1:
      case 2:
      case 3:
      case 4:
      case 15:
      case 16:
        return name + " " + N(Word(Pdu, 1)) + "+" + N(Word(Pdu, 3));
      case 5:
        return name + " " + N(Word(Pdu, 1)) + " " + CoilValue(Word(Pdu, 3));
      case 6:
        return name + " " + N(Word(Pdu, 1)) + " = " + N(Word(Pdu, 3));
      case 22:
        return name + " " + N(Word(Pdu, 1));
      case 23:
        return Say(L, phAndWrite, name + " " + N(Word(Pdu, 1)) + "+" + N(Word(Pdu, 3)),
                   N(Word(Pdu, 5)) + "+" + N(Word(Pdu, 7)));
      case 24:
        return name + " " + N(Word(Pdu, 1));
      default:
        return name;
    }
  }

  // A reply's fields; the size was checked by FitsReply.
  std::string ReplyText(TBytes Pdu) const {
    const std::uint8_t code = Pdu[0];
    switch (code) {
      case 1:
      case 2:
        return Say(L, Pdu[1] == 1 ? phReplyByteOfBits : phReplyBytesOfBits, N(Pdu[1]));
      case 3:
      case 4:
      case 23:
        return Say(L, Pdu[1] == 2 ? phReplyRegister : phReplyRegisters, N(Pdu[1] / 2u));
      case 5:
      case 6:
      case 15:
      case 16:
        return Say(L, phReply, RequestText(Pdu));
      default:
        return Say(L, phReply, FunctionName(code));
    }
  }

  std::string ExceptionText(TBytes Pdu) const {
    if (Pdu.size() != 2) return Say(L, phExceptionLength, N(Pdu.size()));
    return Say(L, phException, N(Pdu[1]), ExceptionName(Pdu[1], L));
  }

  // Who a request is for: "slave 1 " on a serial line, "broadcast " for
  // address 0, "unit 3 " over TCP (nothing for unit 0, which most devices ignore).
  std::string Addressee(TFrameFraming Framing, std::uint8_t Address) const {
    if (Framing == TFrameFraming::ffTcp) return Address == 0 ? "" : Say(L, phUnit, N(Address));
    return Address == 0 ? Say(L, phBroadcast) : Say(L, phSlave, N(Address));
  }

  std::string DescribePdu(TFrameFraming Framing, const TFramePdu& Frame, TFrameRole Role) const {
    const TBytes pdu(Frame.Pdu);
    if (pdu.empty()) return Say(L, phNoFunctionCode);
    if (pdu[0] & 0x80) return ExceptionText(pdu);
    const bool request = FitsRequest(pdu);
    const bool reply = FitsReply(pdu);
    if (Role == TFrameRole::frUnknown)
      Role = request || !reply ? TFrameRole::frRequest : TFrameRole::frReply;
    if (Role == TFrameRole::frRequest) {
      if (!request)
        return Say(L, phLengthErrorOf, Addressee(Framing, Frame.Address) + FunctionName(pdu[0]));
      return Addressee(Framing, Frame.Address) + RequestText(pdu);
    }
    if (!reply) return Say(L, phReplyLengthErrorOf, FunctionName(pdu[0]));
    return ReplyText(pdu);
  }

  std::string ChecksumText(TFrameFraming Framing) const {
    switch (Framing) {
      case TFrameFraming::ffRtu:
        return Say(L, phCrcError);
      case TFrameFraming::ffAscii:
        return Say(L, phLrcError);
      case TFrameFraming::ffTcp:
        break;
    }
    return Say(L, phChecksumError);
  }

  const TSummaryLanguage L;
};

}  // namespace

std::optional<TFramePdu> ExtractPdu(TFrameFraming Framing, std::span<const std::uint8_t> Bytes) {
  TFramePdu frame;
  switch (Framing) {
    case TFrameFraming::ffTcp:
      if (Bytes.size() <= TCP_HEADER_SIZE) return std::nullopt;
      frame.Address = Bytes[6];
      frame.Pdu.assign(Bytes.begin() + TCP_HEADER_SIZE, Bytes.end());
      return frame;
    case TFrameFraming::ffRtu:
      if (Bytes.size() < 2 + RTU_CHECK_SIZE) return std::nullopt;
      frame.Address = Bytes[0];
      frame.Pdu.assign(Bytes.begin() + 1, Bytes.end() - RTU_CHECK_SIZE);
      return frame;
    case TFrameFraming::ffAscii: {
      const auto content = AsciiContent(Bytes);
      if (!content || content->size() < 3) return std::nullopt;  // address, function, LRC
      frame.Address = (*content)[0];
      frame.Pdu.assign(content->begin() + 1, content->end() - 1);
      return frame;
    }
  }
  return std::nullopt;
}

namespace {

// Whether a PDU has the size its first bytes announce; a function that does
// not tell its size fits any.
bool HasItsSize(std::span<const std::uint8_t> Pdu, int Size) {
  if (Size == PduSizeUnpredictable) return true;
  return Size != PduSizeUnknownYet && Pdu.size() == static_cast<std::size_t>(Size);
}

}  // namespace

bool FitsRequest(std::span<const std::uint8_t> Pdu) {
  if (Pdu.empty() || (Pdu[0] & 0x80)) return false;
  return HasItsSize(Pdu, RequestPduSize(Pdu.data(), static_cast<int>(Pdu.size())));
}

bool FitsReply(std::span<const std::uint8_t> Pdu) {
  if (Pdu.empty()) return false;
  // Registers come in pairs of bytes.
  const bool registers = Pdu[0] == 3 || Pdu[0] == 4 || Pdu[0] == 23;
  if (registers && Pdu.size() >= 2 && Pdu[1] % 2 != 0) return false;
  return HasItsSize(Pdu, ReplyPduSize(Pdu.data(), static_cast<int>(Pdu.size())));
}

bool FitsItsFunction(std::span<const std::uint8_t> Pdu) {
  return FitsRequest(Pdu) || FitsReply(Pdu);
}

std::string SummarizeFrame(TFrameFraming Framing, TFrameOutcome Outcome,
                           std::span<const std::uint8_t> Bytes, TFrameRole Role,
                           TSummaryLanguage Language) {
  const TDescriber say(Language);
  switch (Outcome) {
    case TFrameOutcome::foTimeout:
      return Bytes.empty() ? Say(Language, phTimeout)
                           : Say(Language, phTimeoutAfter, N(Bytes.size()));
    case TFrameOutcome::foChecksumError:
      return say.ChecksumText(Framing);
    case TFrameOutcome::foLengthError:
      return SayBytes(Language, phLengthErrorBytes, phLengthErrorByte, Bytes.size());
    case TFrameOutcome::foOk:
    case TFrameOutcome::foException:
    case TFrameOutcome::foUnmatched:
      break;
  }
  const auto frame = ExtractPdu(Framing, Bytes);
  if (!frame) return SayBytes(Language, phMalformedBytes, phMalformedByte, Bytes.size());
  const std::string text = say.DescribePdu(Framing, *frame, Role);
  return Outcome == TFrameOutcome::foUnmatched ? Say(Language, phUnmatched, text) : text;
}

std::string NotMatchedText(const std::string& Why, TSummaryLanguage Language) {
  return Say(Language, phNotMatched, Why);
}

std::string LineNoiseText(std::size_t Bytes, TSummaryLanguage Language) {
  return SayBytes(Language, phLineNoiseBytes, phLineNoiseByte, Bytes);
}

std::string ExceptionName(std::uint8_t Code, TSummaryLanguage Language) {
  constexpr EPhrase NAMES[] = {phUnknownException, phIllegalFunction,        phIllegalDataAddress,
                               phIllegalDataValue, phServerDeviceFailure,    phAcknowledge,
                               phServerDeviceBusy, phNegativeAcknowledge,    phMemoryParityError,
                               phUnknownException, phGatewayPathUnavailable, phGatewayTargetFailed};
  return Say(Language, Code < std::size(NAMES) ? NAMES[Code] : phUnknownException);
}
