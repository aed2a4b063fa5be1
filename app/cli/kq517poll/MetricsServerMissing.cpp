// TMetricsServer for builds without the HTTP library (the Windows build: Debian ships
// cpp-httplib's implementation for Linux only). --metrics then fails with a clear
// reason instead of the program lacking the option.
#include <stdexcept>

#include "MetricsServer.h"
#include "platform/WakeChannel.h"

class TMetricsServer::THttpServer {};

TMetricsServer::TMetricsServer(const std::string&, int, TRender) {
  throw std::runtime_error("--metrics is not available in this build (it has no HTTP server)");
}

TMetricsServer::~TMetricsServer() = default;

std::size_t TMetricsServer::ConnectionLimit() {
  return 0;
}
