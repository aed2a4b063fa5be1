#include "MapFileText.h"

#include <cstdint>

namespace {

constexpr char32_t REPLACEMENT_CHAR = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Windows-1252 differs from Latin-1 only in 0x80..0x9F. The five bytes it
// leaves undefined map to the C1 control of the same value, as Windows does.
constexpr char16_t CP1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80 && b <= 0x9F) {
      AppendUtf8(out, CP1252_HIGH[b - 0x80]);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0.
std::size_t ValidUtf8Length(std::string_view s) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = at(0);
  if (b0 < 0x80) return 1;
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < len) return 0;
  if (at(1) < lo || at(1) > hi) return 0;
  for (std::size_t i = 2; i < len; ++i) {
    if (at(i) < 0x80 || at(i) > 0xBF) return 0;
  }
  return len;
}

std::string SanitizeUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const std::size_t len = ValidUtf8Length(bytes);
    if (len == 0) {
      AppendUtf8(out, REPLACEMENT_CHAR);
      bytes.remove_prefix(1);
    } else {
      out.append(bytes.substr(0, len));
      bytes.remove_prefix(len);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  const std::size_t units = bytes.size() / 2;
  const auto unitAt = [&](std::size_t i) -> char16_t {
    const auto b0 = static_cast<unsigned char>(bytes[2 * i]);
    const auto b1 = static_cast<unsigned char>(bytes[2 * i + 1]);
    return static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0);
  };
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t u = unitAt(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const char16_t next = unitAt(i + 1);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{next} - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, REPLACEMENT_CHAR);
    } else {
      AppendUtf8(out, u);
    }
  }
  if (bytes.size() % 2 != 0) AppendUtf8(out, REPLACEMENT_CHAR);
  return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string MapFileTextToUtf8(std::string_view fileBytes) {
  if (StartsWith(fileBytes, "\xEF\xBB\xBF")) return SanitizeUtf8(fileBytes.substr(3));
  if (StartsWith(fileBytes, "\xFF\xFE")) return Utf16ToUtf8(fileBytes.substr(2), false);
  if (StartsWith(fileBytes, "\xFE\xFF")) return Utf16ToUtf8(fileBytes.substr(2), true);
  return Cp1252ToUtf8(fileBytes);
}

std::vector<std::string_view> SplitMapLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      ++i;
      continue;
    }
    lines.push_back(text.substr(start, i - start));
    i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    start = i;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::vector<std::string_view> SplitMapFields(std::string_view line) {
  std::vector<std::string_view> fields;
  if (line.empty()) return fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = line.find('|', start);
    if (bar == std::string_view::npos) break;
    fields.push_back(line.substr(start, bar - start));
    start = bar + 1;
  }
  // The text after the last separator is a field unless the line ends there.
  if (start < line.size() || fields.empty()) fields.push_back(line.substr(start));
  return fields;
}

namespace {

// Of a text from the file, a message quotes this many bytes at most: a line
// of 50 MB must not become a message of 50 MB.
constexpr std::size_t MAX_QUOTED = 40;

// Text cut to MAX_QUOTED bytes between two UTF-8 characters; empty when it is short.
std::string_view LongTextStart(std::string_view Text) {
  if (Text.size() <= MAX_QUOTED) return {};
  std::size_t cut = MAX_QUOTED;
  while (cut > 0 && (static_cast<unsigned char>(Text[cut]) & 0xC0) == 0x80) --cut;
  return Text.substr(0, cut);
}

}  // namespace

// "abc", or "12345... (52428800 bytes)" for a long text.
std::string FileTextExcerpt(std::string_view Text) {
  const std::string_view start = LongTextStart(Text);
  if (start.empty()) return std::string(Text);
  return std::string(start) + "... (" + std::to_string(Text.size()) + " bytes)";
}

// "'abc'", or "'12345...' (52428800 bytes)".
std::string QuotedFileText(std::string_view Text) {
  const std::string_view start = LongTextStart(Text);
  if (start.empty()) return "'" + std::string(Text) + "'";
  return "'" + std::string(start) + "...' (" + std::to_string(Text.size()) + " bytes)";
}
