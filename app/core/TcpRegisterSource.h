#pragma once
// A register source over Modbus TCP, reading in the TCP cycle's blocks.

#include <cstdint>
#include <string>

#include "IdModBusClient.h"
#include "RegisterSource.h"

struct TTcpSourceSettings {
  std::string Host = "127.0.0.1";
  std::uint16_t Port = 502;
  std::uint8_t UnitId = 0;
  std::uint32_t ReplyTimeoutMs = 15000;
  int ConnectTimeoutMs = 5000;
};

// "Modbus TCP 127.0.0.1:1502, unit 0".
std::string DescribeTcpSource(const TTcpSourceSettings& Settings);

class TTcpRegisterSource : public TRegisterSource {
 public:
  explicit TTcpRegisterSource(const TTcpSourceSettings& Settings);
  TRegisterRead Read(std::uint16_t Start, std::uint32_t Count) override;
  std::string Describe() const override;

 private:
  TTcpSourceSettings FSettings;
  TIdModBusClient FClient;
};
