// The serial ports Windows knows now: the values under HARDWARE\DEVICEMAP\SERIALCOMM,
// which every serial driver (on-board, USB adapter, Bluetooth) fills while its port
// exists. The folders of the POSIX lookup mean nothing here.
#include "SerialPorts.h"

#include <windows.h>

#include <algorithm>

std::vector<std::string> ListSerialPorts(const TSerialPortFolders&) {
  std::vector<std::string> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return ports;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256;
    wchar_t data[256];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    const LONG result = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    std::string port;
    for (DWORD i = 0; i < dataSize / sizeof(wchar_t) && data[i] != L'\0'; ++i)
      port += static_cast<char>(data[i] < 0x80 ? data[i] : L'?');
    if (!port.empty()) ports.push_back(port);
  }
  RegCloseKey(key);
  // COM2 before COM10.
  std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return ports;
}
