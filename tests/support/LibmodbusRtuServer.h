// A Modbus RTU slave built on libmodbus, run on its own thread on a serial device path.
// Its tables hold the same pattern as the pymodbus peer: coil and discrete input i are set
// when i % 3 == 0, holding register i is 3 * i + 1, input register i is 1000 + i.
#pragma once

#include <modbus.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <thread>

namespace interop {

class TLibmodbusRtuServer {
 public:
  static constexpr int TableSize = 3000;

  TLibmodbusRtuServer(const std::string& Path, int Slave) {
    FContext = modbus_new_rtu(Path.c_str(), 19200, 'N', 8, 1);
    FMapping = modbus_mapping_new(TableSize, TableSize, TableSize, TableSize);
    if (!FContext || !FMapping) throw std::runtime_error("libmodbus: cannot allocate the slave");
    for (int i = 0; i < TableSize; ++i) {
      FMapping->tab_bits[i] = FMapping->tab_input_bits[i] = i % 3 == 0;
      FMapping->tab_registers[i] = static_cast<std::uint16_t>(3 * i + 1);
      FMapping->tab_input_registers[i] = static_cast<std::uint16_t>(1000 + i);
    }
    modbus_set_slave(FContext, Slave);
    if (modbus_connect(FContext) != 0)
      throw std::runtime_error(std::string("libmodbus: ") + modbus_strerror(errno));
    // A short wait for each query, so the thread sees the stop request soon.
    modbus_set_indication_timeout(FContext, 0, 50000);
    FThread = std::thread([this] { Serve(); });
  }
  ~TLibmodbusRtuServer() {
    FStop = true;
    FThread.join();
    modbus_close(FContext);
    modbus_free(FContext);
    modbus_mapping_free(FMapping);
  }
  TLibmodbusRtuServer(const TLibmodbusRtuServer&) = delete;
  TLibmodbusRtuServer& operator=(const TLibmodbusRtuServer&) = delete;

  int Answered() const { return FAnswered; }

 private:
  void Serve() {
    std::uint8_t Query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!FStop) {
      const int Size = modbus_receive(FContext, Query);
      if (Size > 0 && modbus_reply(FContext, Query, Size, FMapping) > 0) ++FAnswered;
      if (Size < 0 && errno != ETIMEDOUT) modbus_flush(FContext);
    }
  }

  modbus_t* FContext = nullptr;
  modbus_mapping_t* FMapping = nullptr;
  std::atomic<bool> FStop{false};
  std::atomic<int> FAnswered{0};
  std::thread FThread;
};

}  // namespace interop
