#include "MetricsServer.h"

#include <httplib.h>

#include <chrono>
#include <stdexcept>

TMetricsServer::TMetricsServer(const std::string& Host, int Port, TRender Render)
    : FServer(std::make_unique<httplib::Server>()) {
  // The library's default also sets SO_REUSEPORT, with which a second poller
  // told the same port would share it and Prometheus would get the two
  // meters' values in turn. SO_REUSEADDR alone lets a restart bind at once.
  FServer->set_socket_options([](socket_t Socket) {
    const int yes = 1;
    setsockopt(Socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  FServer->Get("/metrics", [Render](const httplib::Request&, httplib::Response& Response) {
    Response.set_content(Render(), "text/plain; version=0.0.4; charset=utf-8");
  });
  if (!FServer->bind_to_port(Host.c_str(), Port))
    throw std::runtime_error("cannot serve metrics on " + Host + ":" + std::to_string(Port) +
                             " (address in use, or not an address of this machine)");
  FThread = std::thread([this] { FServer->listen_after_bind(); });
  // stop() does nothing to a server that has not started listening yet.
  while (!FServer->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TMetricsServer::~TMetricsServer() {
  FServer->stop();
  if (FThread.joinable()) FThread.join();
}
