#include "MetricsServer.h"

#include <httplib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "MetricsConnection.h"
#include "platform/Sockets.h"
#include "platform/WakeChannel.h"

namespace {

// The library's accept loop hands each connection to a task queue. This one
// runs the task on the accept loop itself, where the server decides at once
// whether the connection gets a thread of its own or is refused.
class TRunAtOnce final : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> Task) override { Task(); }
  void shutdown() override {}
};

// A request with a body: /metrics takes none, and refusing it before it is
// read keeps its size from mattering.
bool CarriesBody(const httplib::Request& Request) {
  return Request.has_header("Transfer-Encoding") ||
         (Request.has_header("Content-Length") &&
          Request.get_header_value("Content-Length") != "0");
}

}  // namespace

// The library's server, with each connection served on a thread of its own
// from the request head read under limits (MetricsConnection.h).
class TMetricsServer::THttpServer final : public httplib::Server {
 public:
  explicit THttpServer(TPollHandle Stop) : FStop(Stop), FLimit(ConnectionLimit()) {
    new_task_queue = [] { return new TRunAtOnce; };
  }

  // The library listens with a backlog of 5: a burst of connections (a
  // scraper's and a few others) would then see its connects dropped and
  // retried a second later. Connections waiting there cost no descriptor.
  void WidenBacklog() { ::listen(svr_sock_, SOMAXCONN); }

  // Waits until every connection has ended; they end at once after Stop.
  void WaitForConnections() {
    std::unique_lock lock(FLock);
    FIdle.wait(lock, [this] { return FHeld == 0; });
  }

 private:
  // The library calls this for every accepted connection, which it leaves to
  // us to close (see TRunAtOnce).
  bool process_and_close_socket(socket_t Socket) override {
    bool full = false;
    {
      std::lock_guard lock(FLock);
      full = FHeld == FLimit;
      if (!full) ++FHeld;
    }
    if (full) {
      Refuse(Socket);
      return false;
    }
    try {
      std::thread([this, Socket] {
        Serve(Socket);
        Release();
      }).detach();
    } catch (const std::system_error&) {  // no thread to be had
      Refuse(Socket);
      Release();
    }
    return true;
  }

  // Answers 503 if the client can take it without waiting, and closes.
  void Refuse(socket_t Socket) {
    WriteStatusOnly(Socket, FStop, 503, "Service Unavailable", std::chrono::steady_clock::now());
    CloseSocket(Socket);
  }

  void Release() {
    std::lock_guard lock(FLock);
    --FHeld;
    // Under the lock: the destructor may not go before this call is done.
    FIdle.notify_all();
  }

  void Serve(socket_t Socket) noexcept {
    try {
      std::string head;
      switch (ReadRequestHead(Socket, FStop, FLimits, head)) {
        case THeadOutcome::hoAbandoned:
          CloseSocket(Socket);
          return;
        case THeadOutcome::hoTooLarge:
          WriteStatusOnly(Socket, FStop, 431, "Request Header Fields Too Large", AnswerDeadline());
          break;
        case THeadOutcome::hoComplete: {
          THeadStream stream(Socket, FStop, head, AnswerDeadline());
          bool closed = false;
          process_request(stream, /*close_connection=*/true, closed, nullptr);
          break;
        }
      }
    } catch (...) {  // the library answers a failing handler with 500; nothing else may end us
    }
    CloseGracefully(Socket, FStop);
  }

  std::chrono::steady_clock::time_point AnswerDeadline() const {
    return std::chrono::steady_clock::now() + FLimits.AnswerDeadline;
  }

  const TPollHandle FStop;
  const std::size_t FLimit;
  const TRequestLimits FLimits;
  std::mutex FLock;
  std::condition_variable FIdle;
  std::size_t FHeld = 0;
};

std::size_t TMetricsServer::ConnectionLimit() {
  constexpr std::size_t MaxConnections = 128;
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
    return MaxConnections;
  return std::clamp<std::size_t>(static_cast<std::size_t>(files.rlim_cur / 4), 1, MaxConnections);
}

TMetricsServer::TMetricsServer(const std::string& Host, int Port, TRender Render)
    : FStop(std::make_unique<TWakeChannel>()),
      FServer(std::make_unique<THttpServer>(FStop->Handle())) {
  // The library's default also sets SO_REUSEPORT, with which a second poller
  // told the same port would share it and Prometheus would get the two
  // meters' values in turn. SO_REUSEADDR alone lets a restart bind at once.
  FServer->set_socket_options([](socket_t Socket) {
    const int yes = 1;
    setsockopt(Socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  FServer->set_pre_routing_handler(
      [](const httplib::Request& Request, httplib::Response& Response) {
        if (!CarriesBody(Request)) return httplib::Server::HandlerResponse::Unhandled;
        Response.status = 413;
        return httplib::Server::HandlerResponse::Handled;
      });
  FServer->Get("/metrics", [Render](const httplib::Request&, httplib::Response& Response) {
    Response.set_content(Render(), "text/plain; version=0.0.4; charset=utf-8");
  });
  if (!FServer->bind_to_port(Host.c_str(), Port))
    throw std::runtime_error("cannot serve metrics on " + Host + ":" + std::to_string(Port) +
                             " (address in use, or not an address of this machine)");
  FServer->WidenBacklog();
  FThread = std::thread([this] { FServer->listen_after_bind(); });
  // stop() does nothing to a server that has not started listening yet.
  while (!FServer->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TMetricsServer::~TMetricsServer() {
  FStop->Signal();
  FServer->stop();
  if (FThread.joinable()) FThread.join();
  FServer->WaitForConnections();
}
