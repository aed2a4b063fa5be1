#pragma once
// A fixture for a simulator front end served on the test's own thread: the test turns the
// server's loop until what it waits for has happened, and fails after a generous time-out.

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

template <typename Server>
class TServedFrontEnd : public ::testing::Test {
 protected:
  // Serves until `done` holds; fails the test after a generous time-out.
  void PumpUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      ASSERT_LT(std::chrono::steady_clock::now(), end) << "time-out waiting for the server";
      server->ServeOnce(5);
    }
  }
  template <typename Client>
  void PumpUntilReceived(Client& c, std::size_t bytes) {
    PumpUntil([&] {
      c.Collect();
      return c.received.size() >= bytes;
    });
  }
  template <typename Client>
  void PumpUntilClosed(Client& c) {
    PumpUntil([&] { return !c.Collect(); });
  }

  std::unique_ptr<Server> server;
};
