#include "Commons.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "ElfFormat.h"

namespace {

// ---------------------------------------------------------------- file access

// A read-only file with bounds-checked reads at absolute offsets.
class TFileReader {
 public:
  explicit TFileReader(const std::string& pName) : FStream(pName, std::ios::binary) {
    if (FStream) {
      FStream.seekg(0, std::ios::end);
      const auto end = FStream.tellg();
      FSize = end < 0 ? 0 : static_cast<uint64_t>(end);
      FStream.seekg(0);
    }
  }
  bool IsOpen() const { return static_cast<bool>(FStream); }
  uint64_t Size() const { return FSize; }

  // Reads exactly pCount bytes at pOffset; false when they are not all there.
  bool ReadAt(uint64_t pOffset, void* pDest, uint64_t pCount) {
    if (pOffset > FSize || pCount > FSize - pOffset) return false;
    FStream.clear();
    FStream.seekg(static_cast<std::streamoff>(pOffset));
    FStream.read(static_cast<char*>(pDest), static_cast<std::streamsize>(pCount));
    return static_cast<uint64_t>(FStream.gcount()) == pCount;
  }

 private:
  std::ifstream FStream;
  uint64_t FSize = 0;
};

uint32_t LoadLE32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Decodes the 52 record bytes; empty unless the signature and the structure
// version are right, which keeps stray matches of the signature out.
std::optional<TFixedFileInfo> DecodeRecord(const unsigned char* pBytes) {
  std::array<uint32_t, 13> words{};
  for (size_t i = 0; i < words.size(); ++i) words[i] = LoadLE32(pBytes + 4 * i);
  if (words[0] != VS_FIXEDFILEINFO_SIGNATURE || words[1] != VS_FIXEDFILEINFO_STRUCVERSION)
    return std::nullopt;
  TFixedFileInfo info{};
  std::memcpy(&info, words.data(), sizeof info);
  return info;
}

// ---------------------------------------------------------------- ELF lookup

// The section table of a native-endian ELF file, read with every offset checked
// against the file size. Returns false when the file is not such an ELF file.
template <typename Ehdr, typename Shdr>
bool FindElfSection(TFileReader& pFile, const char* pName, uint64_t& pOffset, uint64_t& pSize) {
  Ehdr header{};
  if (!pFile.ReadAt(0, &header, sizeof header)) return false;
  if (header.e_shoff == 0 || header.e_shentsize < sizeof(Shdr)) return false;
  using ElfFormat::ExtendedIndex;
  using ElfFormat::NoBits;

  auto readSection = [&](uint64_t index, Shdr& section) {
    return pFile.ReadAt(header.e_shoff + index * header.e_shentsize, &section, sizeof section);
  };

  // Extended numbering: with many sections the real counts live in section 0.
  Shdr first{};
  if (!readSection(0, first)) return false;
  uint64_t count = header.e_shnum != 0 ? header.e_shnum : static_cast<uint64_t>(first.sh_size);
  uint64_t namesIndex = header.e_shstrndx != ExtendedIndex ? header.e_shstrndx : first.sh_link;
  if (count > pFile.Size() / header.e_shentsize || namesIndex >= count) return false;

  Shdr names{};
  if (!readSection(namesIndex, names)) return false;
  const size_t wanted = std::strlen(pName) + 1;  // the name and its terminating zero
  std::vector<char> candidate(wanted);
  for (uint64_t i = 0; i < count; ++i) {
    Shdr section{};
    if (!readSection(i, section)) return false;
    if (section.sh_name >= names.sh_size || names.sh_size - section.sh_name < wanted) continue;
    if (!pFile.ReadAt(names.sh_offset + section.sh_name, candidate.data(), wanted)) continue;
    if (std::memcmp(candidate.data(), pName, wanted) != 0) continue;
    if (section.sh_type == NoBits) return true;  // present but without bytes
    pOffset = section.sh_offset;
    pSize = section.sh_size;
    return true;
  }
  return true;  // a valid ELF file without the section
}

enum class TElfLookup { NotElf, NoRecord, Found };

TElfLookup ReadElfRecord(TFileReader& pFile, std::optional<TFixedFileInfo>& pInfo) {
  using namespace ElfFormat;
  unsigned char ident[IdentSize] = {};
  if (!pFile.ReadAt(0, ident, sizeof ident) || std::memcmp(ident, Magic, sizeof Magic) != 0)
    return TElfLookup::NotElf;
  const bool nativeLittle = (std::endian::native == std::endian::little);
  if (ident[DataIndex] != (nativeLittle ? DataLittleEndian : DataBigEndian))
    return TElfLookup::NotElf;

  uint64_t offset = 0;
  uint64_t size = 0;
  bool valid = false;
  if (ident[ClassIndex] == Class64)
    valid = FindElfSection<Elf64Header, Elf64Section>(pFile, KQ_VERSION_SECTION, offset, size);
  else if (ident[ClassIndex] == Class32)
    valid = FindElfSection<Elf32Header, Elf32Section>(pFile, KQ_VERSION_SECTION, offset, size);
  if (!valid) return TElfLookup::NoRecord;  // damaged: its bytes mean nothing we can trust

  std::array<unsigned char, sizeof(TFixedFileInfo)> bytes{};
  if (size < bytes.size() || !pFile.ReadAt(offset, bytes.data(), bytes.size()))
    return TElfLookup::NoRecord;
  pInfo = DecodeRecord(bytes.data());
  return pInfo ? TElfLookup::Found : TElfLookup::NoRecord;
}

// ---------------------------------------------------------------- byte scan

// Any other file: the first place where the signature and structure version
// stand, read in chunks that overlap by one record so no match is cut in two.
std::optional<TFixedFileInfo> ScanForRecord(TFileReader& pFile) {
  constexpr size_t chunk = 1 << 20;
  constexpr size_t recordSize = sizeof(TFixedFileInfo);
  const unsigned char marker[8] = {0xBD, 0x04, 0xEF, 0xFE, 0x00, 0x00, 0x01, 0x00};
  std::vector<unsigned char> buffer(chunk + recordSize);
  for (uint64_t start = 0; start < pFile.Size(); start += chunk) {
    const uint64_t length = std::min<uint64_t>(buffer.size(), pFile.Size() - start);
    if (!pFile.ReadAt(start, buffer.data(), length)) return std::nullopt;
    auto end = buffer.begin() + static_cast<std::ptrdiff_t>(length);
    for (auto it = std::search(buffer.begin(), end, std::begin(marker), std::end(marker));
         it != end; it = std::search(it + 1, end, std::begin(marker), std::end(marker))) {
      if (end - it < static_cast<std::ptrdiff_t>(recordSize)) break;  // seen in the next chunk
      if (auto info = DecodeRecord(&*it)) return info;
    }
  }
  return std::nullopt;
}

// ---------------------------------------------------------------- helpers

// Value of an os-release assignment: double quotes with backslash escapes,
// single quotes taken literally, or a bare word.
std::string UnquoteOsReleaseValue(const std::string& pValue) {
  if (pValue.size() >= 2 && pValue.front() == '\'' && pValue.back() == '\'')
    return pValue.substr(1, pValue.size() - 2);
  if (pValue.size() >= 2 && pValue.front() == '"' && pValue.back() == '"') {
    std::string out;
    for (size_t i = 1; i + 1 < pValue.size(); ++i) {
      if (pValue[i] == '\\' && i + 2 < pValue.size()) ++i;
      out += pValue[i];
    }
    return out;
  }
  return pValue;
}

}  // namespace

// ---------------------------------------------------------------- version

std::optional<TFixedFileInfo> ReadFixedFileInfo(const std::string& pFileName) {
  // Only a regular file can carry the record; opening a FIFO would wait for
  // a writer that may never come, and a device could be endless.
  std::error_code error;
  if (!std::filesystem::is_regular_file(std::filesystem::path(pFileName), error))
    return std::nullopt;
  TFileReader file(pFileName);
  if (!file.IsOpen()) return std::nullopt;
  std::optional<TFixedFileInfo> info;
  switch (ReadElfRecord(file, info)) {
    case TElfLookup::Found:
      return info;
    case TElfLookup::NoRecord:
      return std::nullopt;
    case TElfLookup::NotElf:
      break;
  }
  return ScanForRecord(file);
}

std::string FormatVersion(const TFixedFileInfo& pInfo) {
  char text[64];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", pInfo.dwFileVersionMS >> 16,
                pInfo.dwFileVersionMS & 0xFFFFu, pInfo.dwFileVersionLS >> 16,
                pInfo.dwFileVersionLS & 0xFFFFu);
  std::string result = text;
  if (pInfo.dwFileFlags & VS_FF_DEBUG) result += " Debug";
  if (pInfo.dwFileFlags & VS_FF_PRERELEASE) result += " Pre Release";
  if (pInfo.dwFileFlags & VS_FF_PRIVATEBUILD) result += " Private Build";
  if (pInfo.dwFileFlags & VS_FF_SPECIALBUILD) result += " Special Build";
  return result;
}

// ---------------------------------------------------------------- system name

std::string WindowsVersionName(const TWindowsVersion& pVersion) {
  const bool workstation = pVersion.ProductType == VER_NT_WORKSTATION;
  switch (pVersion.Major * 65536u + pVersion.Minor) {
    case 0x50000:
      return "Windows 2000";
    case 0x50001:
      return "Windows XP";
    case 0x50002:
      return pVersion.ServerR2Metric != 0 ? "Windows Server 2003 R2" : "Windows Server 2003";
    case 0x60000:
      return workstation ? "Windows Vista" : "Windows Server 2008";
    case 0x60001:
      return workstation ? "Windows 7" : "Windows Server 2008 R2";
    case 0x60002:
      return workstation ? "Windows 8" : "Windows Server 2012";
    case 0x60003:
      return workstation ? "Windows 8.1" : "Windows Server 2012 R2";
    case 0xA0000:
      return workstation ? "Windows 10" : "Windows Server 2016 T.P.";
    default:
      return {};
  }
}

std::string OsReleasePrettyName(const std::string& pOsReleaseText) {
  std::string prettyName, name, version;
  std::istringstream lines(pOsReleaseText);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto equals = line.find('=');
    if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = UnquoteOsReleaseValue(line.substr(equals + 1));
    if (key == "PRETTY_NAME")
      prettyName = value;
    else if (key == "NAME")
      name = value;
    else if (key == "VERSION")
      version = value;
  }
  if (!prettyName.empty()) return prettyName;
  if (!name.empty()) return version.empty() ? name : name + " " + version;
  return "Linux";
}

// ---------------------------------------------------------------- memory

std::string FormatMemoryKB(uint64_t pBytes, const std::string& pGroupSeparator) {
  const std::string digits = std::to_string(pBytes / 1024);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += pGroupSeparator;
    grouped += digits[i];
  }
  return grouped + " KB";
}

// ---------------------------------------------------------------- conversion

int StrToInt(const std::string& pText) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  size_t first = 0;
  size_t last = pText.size();
  while (first < last && isBlank(pText[first])) ++first;
  while (last > first && isBlank(pText[last - 1])) --last;
  const std::string number = pText.substr(first, last - first);

  const bool signedNumber = !number.empty() && (number[0] == '+' || number[0] == '-');
  const bool digitsOnly = number.size() > (signedNumber ? 1u : 0u) &&
                          std::all_of(number.begin() + (signedNumber ? 1 : 0), number.end(),
                                      [](char c) { return c >= '0' && c <= '9'; });
  if (digitsOnly) {
    errno = 0;
    const long long value = std::strtoll(number.c_str(), nullptr, 10);
    if (errno == 0 && value >= INT_MIN && value <= INT_MAX) return static_cast<int>(value);
  }
  throw EConvertError("'" + pText + "' is not a valid integer value");
}
