// The running program, its version, the system's name and its memory, on Windows.
// Commons.h comes first: its constants carry the names that <windows.h> makes macros of.
#include "Commons.h"
// clang-format off
#include <windows.h>
// clang-format on

#include <cstring>
#include <vector>

namespace {

std::wstring Widen(const std::string& Text) {
  if (Text.empty()) return {};
  const int Length =
      MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring Wide(static_cast<size_t>(Length > 0 ? Length : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Wide.data(), Length);
  return Wide;
}

std::string Narrow(const std::wstring& Text) {
  if (Text.empty()) return {};
  const int Length = WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string Utf8(static_cast<size_t>(Length > 0 ? Length : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Utf8.data(), Length,
                      nullptr, nullptr);
  return Utf8;
}

// RTL_OSVERSIONINFOEXW as ntdll fills it: unlike GetVersionEx, RtlGetVersion does not
// pretend to be an older Windows to programs without a compatibility manifest.
struct TOsVersionInfo {
  ULONG dwOSVersionInfoSize;
  ULONG dwMajorVersion;
  ULONG dwMinorVersion;
  ULONG dwBuildNumber;
  ULONG dwPlatformId;
  WCHAR szCSDVersion[128];
  USHORT wServicePackMajor;
  USHORT wServicePackMinor;
  USHORT wSuiteMask;
  UCHAR wProductType;
  UCHAR wReserved;
};
using TRtlGetVersion = LONG(WINAPI*)(TOsVersionInfo*);

}  // namespace

std::string ProgramFileName() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return Narrow(std::wstring(path.data(), length));
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

// The fixed part of the file's version resource (the VERSIONINFO that the build puts in
// every program), as the system reads it.
std::string GetVersionStr(const std::string& pFileName) {
  const std::wstring file = pFileName.empty() ? Widen(ProgramFileName()) : Widen(pFileName);
  if (file.empty()) return {};
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return {};
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
      fixed == nullptr || length < sizeof(TFixedFileInfo) ||
      fixed->dwSignature != VS_FIXEDFILEINFO_SIGNATURE)
    return {};
  TFixedFileInfo info{};
  static_assert(sizeof(VS_FIXEDFILEINFO) == sizeof(TFixedFileInfo));
  std::memcpy(&info, fixed, sizeof info);
  return FormatVersion(info);
}

std::string GetOSString() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto rtlGetVersion = ntdll ? reinterpret_cast<TRtlGetVersion>(reinterpret_cast<void*>(
                                         GetProcAddress(ntdll, "RtlGetVersion")))
                                   : nullptr;
  if (rtlGetVersion == nullptr) return {};
  TOsVersionInfo version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (rtlGetVersion(&version) != 0) return {};
  TWindowsVersion known;
  known.Major = version.dwMajorVersion;
  known.Minor = version.dwMinorVersion;
  known.ProductType = version.wProductType;
  known.ServerR2Metric = GetSystemMetrics(SM_SERVERR2);
  return WindowsVersionName(known);
}

uint64_t TotalPhysicalMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}
