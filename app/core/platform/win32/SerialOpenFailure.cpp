// Why a COM port does not open, asked of the system the way the library opens it. The
// reason is the system's own text, in the system's language.
#include "SerialOpenFailure.h"

#include <windows.h>

#include <system_error>

namespace {

std::wstring Widen(const std::string& Text) {
  std::wstring wide;
  for (const char c : Text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

// The system's error code of opening Path now, 0 when it opens.
DWORD OpenError(const std::string& Path) {
  if (Path.empty()) return ERROR_FILE_NOT_FOUND;
  const HANDLE handle = CreateFileW(Widen(Path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(handle);
  return 0;
}

}  // namespace

std::string SerialDevicePath(const std::string& Port) {
  if (Port.empty() || Port.rfind("\\\\", 0) == 0) return Port;
  return "\\\\.\\" + Port;
}

std::string SerialOpenFailureText(const std::string& Message, const std::string& Port) {
  const std::string path = SerialDevicePath(Port);
  const DWORD error = OpenError(path);
  std::string text = Message + " " + (path.empty() ? "(nessuna porta indicata)" : path);
  if (error == 0) return text;
  text += ": " + std::system_category().message(static_cast<int>(error));
  // A COM port is opened by one program at a time.
  if (error == ERROR_ACCESS_DENIED)
    text += ". La porta potrebbe essere usata da un altro programma";
  return text;
}
