// Version and system-name routines shared by the window, the about box and the
// command-line tools.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

// The fixed-file-info record embedded in every program of the project (see
// cmake/Version.cmake). Same layout as the classic Windows fixed file info, so
// GetVersionStr also understands a Windows program that carries one.
struct TFixedFileInfo {
  uint32_t dwSignature;      // VS_FIXEDFILEINFO_SIGNATURE
  uint32_t dwStrucVersion;   // 0x00010000
  uint32_t dwFileVersionMS;  // major << 16 | minor
  uint32_t dwFileVersionLS;  // release << 16 | build
  uint32_t dwProductVersionMS;
  uint32_t dwProductVersionLS;
  uint32_t dwFileFlagsMask;
  uint32_t dwFileFlags;  // VS_FF_* bits below
  uint32_t dwFileOS;
  uint32_t dwFileType;
  uint32_t dwFileSubtype;
  uint32_t dwFileDateMS;
  uint32_t dwFileDateLS;
};
static_assert(sizeof(TFixedFileInfo) == 52, "the record is 13 little-endian 32-bit words");

inline constexpr uint32_t VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BDu;
inline constexpr uint32_t VS_FIXEDFILEINFO_STRUCVERSION = 0x00010000u;
inline constexpr uint32_t VS_FF_DEBUG = 0x01;
inline constexpr uint32_t VS_FF_PRERELEASE = 0x02;
inline constexpr uint32_t VS_FF_PRIVATEBUILD = 0x08;
inline constexpr uint32_t VS_FF_SPECIALBUILD = 0x20;

// Name of the ELF section that holds the record in our own programs.
inline constexpr const char* KQ_VERSION_SECTION = ".kq_version";

// Finds the version record in the named file: through the section table of an
// ELF file, otherwise by scanning the bytes for the signature. Empty when the
// file cannot be read, is not a regular file or carries no record.
std::optional<TFixedFileInfo> ReadFixedFileInfo(const std::string& pFileName);

// "major.minor.release.build" plus " Debug", " Pre Release", " Private Build"
// and " Special Build" for the flags that are set (tested as stored, without
// the flags mask).
std::string FormatVersion(const TFixedFileInfo& pInfo);

// Version text of the named file, or of the running program when the name is
// empty; empty when the file has no version record. On Windows the file's
// version resource is read by the system (GetFileVersionInfoW).
std::string GetVersionStr(const std::string& pFileName);

// Path of the running program, empty if it cannot be told.
std::string ProgramFileName();

// The values the Windows version query reports.
struct TWindowsVersion {
  uint32_t Major = 0;
  uint32_t Minor = 0;
  uint8_t ProductType = 0;  // 1 = workstation (VER_NT_WORKSTATION)
  int ServerR2Metric = 0;   // system metric 89 (SM_SERVERR2)
};
inline constexpr uint8_t VER_NT_WORKSTATION = 1;

// Windows version name for the given version values; empty for an unknown version.
std::string WindowsVersionName(const TWindowsVersion& pVersion);

// PRETTY_NAME of an os-release text (quotes and backslash escapes removed);
// falls back to NAME and VERSION, then to "Linux" as os-release itself prescribes.
std::string OsReleasePrettyName(const std::string& pOsReleaseText);

// Name of the running operating system: the os-release name on Linux, the
// name from WindowsVersionName on Windows; empty when it cannot be told.
std::string GetOSString();

// Total physical memory of the machine in bytes, 0 when unknown.
uint64_t TotalPhysicalMemory();

// pBytes / 1024 with the digits grouped in threes by pGroupSeparator, followed
// by " KB": 8 GiB gives "8,388,608 KB" with "," and "8.388.608 KB" with ".".
std::string FormatMemoryKB(uint64_t pBytes, const std::string& pGroupSeparator);

// A text that is not the number it should be.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses a whole decimal integer (optional sign, surrounding blanks allowed);
// throws EConvertError "'<text>' is not a valid integer value" otherwise.
int StrToInt(const std::string& pText);
