#pragma once
// Serves GET /metrics over HTTP on one address, from threads of its own, with
// the text a callback renders at each request. Any other path is 404.
//
// Whatever clients do, the endpoint holds at most ConnectionLimit()
// connections (well below the process's limit of open files, so that polling
// never runs out of descriptors; one more is answered 503 and closed at once),
// gives each a thread, and bounds each request by a deadline and a size: a
// request head larger than 16 KiB or with more than 100 fields is answered
// 431, a request with a body 413, one connection serves one request, and the
// destructor ends every connection at once.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class TWakeChannel;

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

  // Connections held at most: 128, or a quarter of the process's limit of
  // open files when that is lower.
  static std::size_t ConnectionLimit();

 private:
  class THttpServer;
  std::unique_ptr<TWakeChannel> FStop;  // readable once the server stops
  std::unique_ptr<THttpServer> FServer;
  std::thread FThread;
};
