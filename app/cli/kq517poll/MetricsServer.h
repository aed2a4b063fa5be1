#pragma once
// Serves GET /metrics over HTTP on one address, from a thread of its own,
// with the text a callback renders at each request. Any other path is 404.

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

class TMetricsServer {
 public:
  using TRender = std::function<std::string()>;

  // Binds Host:Port (Host a name or a numeric address; nothing else is
  // listened on) and starts serving. Throws std::runtime_error when the
  // address cannot be had.
  TMetricsServer(const std::string& Host, int Port, TRender Render);
  ~TMetricsServer();
  TMetricsServer(const TMetricsServer&) = delete;
  TMetricsServer& operator=(const TMetricsServer&) = delete;

 private:
  std::unique_ptr<httplib::Server> FServer;
  std::thread FThread;
};
