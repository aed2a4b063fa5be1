// The serial port field on Windows: the COM ports the system lists under
// HARDWARE\DEVICEMAP\SERIALCOMM (where every serial driver puts its ports), in
// numeric order, while the documented default "COM7" stays the typed text even
// when no such port exists. Runs under Wine, whose registry the test may write.
#include <gtest/gtest.h>
#include <windows.h>

#include <QStringList>

#include "GuiTestSupport.h"
#include "SerialPortCombo.h"

namespace {

// Adds the ports as a driver would, and takes them away again.
class TRegisteredPorts {
 public:
  explicit TRegisteredPorts(const std::vector<std::pair<const wchar_t*, const wchar_t*>>& Ports)
      : FPorts(Ports) {
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                        REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &FKey,
                        nullptr) != ERROR_SUCCESS)
      throw std::runtime_error("cannot open SERIALCOMM");
    for (const auto& [device, port] : FPorts)
      RegSetValueExW(FKey, device, 0, REG_SZ, reinterpret_cast<const BYTE*>(port),
                     static_cast<DWORD>((wcslen(port) + 1) * sizeof(wchar_t)));
  }
  ~TRegisteredPorts() {
    for (const auto& entry : FPorts) RegDeleteValueW(FKey, entry.first);
    RegCloseKey(FKey);
  }
  TRegisteredPorts(const TRegisteredPorts&) = delete;
  TRegisteredPorts& operator=(const TRegisteredPorts&) = delete;

 private:
  std::vector<std::pair<const wchar_t*, const wchar_t*>> FPorts;
  HKEY FKey = nullptr;
};

TEST(WindowsSerialPortCombo, ListsTheSystemsComPortsInOrderAndKeepsTheTypedDefault) {
  EnsureApplication();
  const TRegisteredPorts ports({{L"\\Device\\KqUsb0", L"COM12"},
                                {L"\\Device\\KqSerial0", L"COM3"},
                                {L"\\Device\\KqBth0", L"COM4"}});
  TSerialPortCombo combo(QStringLiteral("COM7"));
  QStringList listed;
  for (int i = 0; i < combo.count(); ++i) listed << combo.itemText(i);
  // Ports other than the test's (Wine's own COM1, say) may be listed around them.
  const auto at = [&](const char* port) { return listed.indexOf(QLatin1String(port)); };
  ASSERT_GE(at("COM3"), 0) << listed.join(u' ').toStdString();
  EXPECT_LT(at("COM3"), at("COM4"));
  EXPECT_LT(at("COM4"), at("COM12"));
  EXPECT_EQ(combo.text(), QStringLiteral("COM7"));
}

}  // namespace
