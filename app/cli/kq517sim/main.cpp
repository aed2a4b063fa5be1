// kq517sim: a simulated meter gateway serving the register map over Modbus TCP
// on loopback and over a serial line: a new pseudo-terminal by default, or a
// named port (on Windows, where there are no pseudo-terminals, only a named one);
// and, when asked, the serial line's frames over TCP, as a serial device server.

#include <iostream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "CommandLine.h"
#include "MapFileLookup.h"
#include "MeterRegisters.h"
#include "ModbusTcpFrontEnd.h"
#include "PollableMainThread.h"
#include "RegisterMap.h"
#include "RequestLog.h"
#include "RtuOverTcpFrontEnd.h"
#include "SerialFrontEnd.h"
#include "SerialLine.h"
#include "ServedDump.h"
#include "SimOptions.h"
#include "SimulatedMeter.h"
#include "StopSignal.h"
#include "platform/ProcessSignals.h"

namespace {

// The map named by --map, else the default map from the working folder,
// beside the program or from ../share/kq517/.
std::string ResolveMapFile(const TSimOptions& o) {
  if (!o.mapFile.empty()) return o.mapFile;
  return FindMapFile(o.qvzt ? QVZT_MAP_FILE : NORMAL_MAP_FILE, ThisProgram());
}

std::vector<TConfigRecord> LoadEntries(const TSimOptions& o, const std::string& file) {
  TRegisterMap map;
  TLoadResult result;
  try {
    result = map.LoadConfig(o.qvzt ? mpQVZT : mpNormal, file, TMapSettings{});
  } catch (const std::exception& e) {
    throw std::runtime_error("cannot read the map file " + file + ": " + e.what());
  }
  if (result != TLoadResult::lrOk) {
    throw std::runtime_error(file + ": " + INVALID_MAP_MESSAGE);
  }
  return map.Regs();
}

std::string InstanceList(const std::array<bool, METER_INSTANCE_COUNT>& on) {
  std::string list;
  for (int i = 0; i < METER_INSTANCE_COUNT; ++i) {
    if (!on[static_cast<std::size_t>(i)]) continue;
    if (!list.empty()) list += ",";
    list += std::to_string(i + 1);
  }
  return list.empty() ? "none" : list;
}

// Installs the loop's main-thread seam for the serial library while it lives.
class TMainThreadInstallation {
 public:
  explicit TMainThreadInstallation(TMainThread& thread) { InstallMainThread(&thread); }
  ~TMainThreadInstallation() { InstallMainThread(nullptr); }
  TMainThreadInstallation(const TMainThreadInstallation&) = delete;
  TMainThreadInstallation& operator=(const TMainThreadInstallation&) = delete;
};

TSerialSettings SerialSettingsOf(const TSimOptions& o) {
  TSerialSettings s;
  s.port = o.serialPort;
  s.ascii = o.mode == tmASCII;
  s.baudRate = static_cast<std::uint32_t>(o.baudRate);
  s.parity = o.parity == psEven ? 'E' : o.parity == psOdd ? 'O' : 'N';
  s.stopBits = o.stopBits == sb2 ? 2 : 1;
  s.dataBits = o.dataBits;
  s.slaveAddress = static_cast<std::uint8_t>(o.slaveAddress);
  s.frameEndByLength = o.frameEndByLength;
  return s;
}

TTcpFrontEndSettings TcpSettingsOf(const TSimOptions& o, const std::string& host,
                                   std::uint16_t port) {
  TTcpFrontEndSettings s;
  s.host = host;
  s.port = port;
  s.maxClients = o.maxClients;
  s.idleTimeout = std::chrono::seconds(o.idleTimeoutSeconds);
  s.frameTimeout = std::chrono::milliseconds(o.frameTimeoutMs);
  return s;
}

// The slave's answer to a request PDU that came over TCP; a failure of the slave is
// reported and answered with exception 4 (server failure).
std::size_t AnswerOverTcp(TSerialFrontEnd& serial, std::span<const std::uint8_t> pdu,
                          std::span<std::uint8_t> reply, const std::string& peer) {
  try {
    return serial.AnswerPdu(pdu, reply);
  } catch (const std::exception& e) {
    std::cerr << "kq517sim: tcp " << peer << ": " << e.what() << std::endl;
    reply[0] = static_cast<std::uint8_t>(pdu[0] | 0x80);
    reply[1] = 4;
    return 2;
  }
}

int Serve(const TSimOptions& o, const TSimulatedMeter& meter, const TSimClock& clock) {
  TStopSignal stop;
  TPollableMainThread mainThread;
  const TMainThreadInstallation installation(mainThread);
  SetApplicationExceptionHandler([](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      std::cerr << "kq517sim: serial line: " << e.what() << std::endl;
    } catch (...) {
      std::cerr << "kq517sim: serial line: unknown failure" << std::endl;
    }
  });
  TMeterRegisters registers(meter, clock);

  // The serial slave is always there: it also answers the TCP requests. Its
  // line is a named port, or a new pseudo-terminal where the system has them.
  TSerialFrontEnd serial(SerialSettingsOf(o), registers);
  const bool serialLine = !o.serialPort.empty() || TPseudoTerminal::Available();
  if (o.verbose) serial.OnLog = [](const std::string& line) { std::cout << line << std::endl; };
  if (serialLine) {
    serial.Open();
    // The slave's worker discards what is pending when it starts listening; give
    // it that moment before telling readers where to find it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  TModbusTcpFrontEnd tcp(
      TcpSettingsOf(o, o.tcpHost, o.tcpPort),
      [&](const TTcpRequest& request, std::span<std::uint8_t> reply) {
        const std::size_t size = AnswerOverTcp(serial, request.pdu, reply, request.peer);
        if (o.verbose) {
          std::cout << "tcp " << request.peer << " unit " << unsigned{request.unitId} << " tid "
                    << request.transactionId << ": "
                    << DescribeExchange(request.pdu, reply.first(size)) << std::endl;
        }
        return size;
      });
  if (!o.noTcp) {
    tcp.Listen();
    std::cout << "kq517sim: Modbus TCP on " << o.tcpHost << ":" << tcp.Port() << std::endl;
  }
  // The slave answers its own address only, as on a bus; a broadcast gets no reply.
  std::unique_ptr<TRtuOverTcpFrontEnd> overTcp;
  if (o.rtuOverTcp) {
    overTcp = std::make_unique<TRtuOverTcpFrontEnd>(
        TcpSettingsOf(o, o.rtuOverTcpHost, o.rtuOverTcpPort), o.mode,
        [&](const TRtuOverTcpRequest& request, std::span<std::uint8_t> reply) -> std::size_t {
          if (request.address != o.slaveAddress) return 0;
          const std::size_t size = AnswerOverTcp(serial, request.pdu, reply, request.peer);
          if (o.verbose) {
            std::cout << "rtu-over-tcp " << request.peer << " slave " << o.slaveAddress << ": "
                      << DescribeExchange(request.pdu, reply.first(size)) << std::endl;
          }
          return size;
        });
    overTcp->Listen();
    const bool v6 = o.rtuOverTcpHost.find(':') != std::string::npos;
    std::cout << "kq517sim: Modbus " << serial.Framing() << " over TCP on "
              << (v6 ? "[" + o.rtuOverTcpHost + "]" : o.rtuOverTcpHost) << ":" << overTcp->Port()
              << " (slave " << o.slaveAddress << ")" << std::endl;
  }
  if (serialLine) {
    std::cout << "kq517sim: Modbus " << serial.Framing() << " on " << serial.Path() << " (slave "
              << o.slaveAddress << ", " << o.baudRate << " baud, parity " << ParityWord(o.parity)
              << ", " << (o.dataBits == db7 ? "7 data bits, " : "")
              << (o.stopBits == sb2 ? "2 stop bits" : "1 stop bit") << ")" << std::endl;
  } else {
    std::cout << "kq517sim: no serial line (--serial COMn serves one)" << std::endl;
  }
  std::cout << "kq517sim: meters on: " << InstanceList(meter.Settings().instanceOn)
            << ", byte order " << ByteSequenceWord(meter.Settings().byteSequence)
            << "; Ctrl-C stops" << std::endl;

  // A stop and the posted calls (the serial line's) wake the loop; only then are they
  // looked at, so that a request costs no system call beyond its poll, read and write.
  // The frames over TCP wake it too, and are served by their own front end after it.
  std::vector<TPollHandle> wake{stop.Fd(), mainThread.WakeFd()};
  const std::size_t ownWake = wake.size();
  bool stopped = stop.Requested();
  while (!stopped) {
    int timeoutMs = -1;
    if (overTcp) {
      wake.resize(ownWake);
      overTcp->AddWakeHandles(wake);
      timeoutMs = overTcp->NextDeadlineMs();
    }
    const bool woken = tcp.ServeOnce(timeoutMs, wake);
    if (overTcp) overTcp->ServeOnce(0);
    if (!woken) continue;
    mainThread.RunPending();
    stopped = stop.Requested();
  }
  serial.OnLog = nullptr;
  serial.Close();
  std::cout << "kq517sim: stopped" << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  IgnoreBrokenPipes();
  TSimOptions options;
  const TCommandLine parsed = ParseSimOptions({argv + 1, argv + argc}, options);
  if (const auto status =
          FinishCommandLine(parsed, "kq517sim", SimSynopsis(), std::cout, std::cerr))
    return *status;
  try {
    TSimulatedMeterSettings settings;
    settings.mapType = options.qvzt ? mpQVZT : mpNormal;
    settings.byteSequence = options.EffectiveByteSequence();
    settings.instanceOn = options.instanceOn;
    settings.firmwareVersion = options.firmwareVersion;
    const TSimulatedMeter meter(LoadEntries(options, ResolveMapFile(options)), settings);
    const TSimClock clock = options.fixedClock ? TSimClock(*options.fixedClock) : TSimClock();
    if (!options.dump) return Serve(options, meter, clock);
    const bool float32 = options.dumpFloat32 && !options.qvzt;
    WriteServedCsv(std::cout, meter.ServedEntries(options.dumpMeter, float32, clock.Now()),
                   float32);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "kq517sim: " << e.what() << "\n";
    return 1;
  }
}
