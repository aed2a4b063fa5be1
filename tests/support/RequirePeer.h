#pragma once
// Tests against independent peers (pymodbus, libmodbus, mbpoll) need those
// peers installed. A missing peer fails the test with the Debian package that
// brings it, so that a machine without it can never pass the suite by
// accident; only a developer who sets KQ_SKIP_PEERS=1 turns that into a skip.
//
//   KQ_REQUIRE_PEER(kq_peer::ProgramExists("/usr/bin/mbpoll"), "mbpoll", "mbpoll");
//
// Use it in a test body or in SetUp (a failure there skips the test body).

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace kq_peer {

inline bool SkipRequested() {
  const char* value = std::getenv("KQ_SKIP_PEERS");
  return value != nullptr && std::string(value) == "1";
}

inline bool ProgramExists(const std::string& Path) {
  return !Path.empty() && ::access(Path.c_str(), X_OK) == 0;
}

// True when Python can import every module of Modules ("pymodbus.server, serial").
inline bool PythonImports(const std::string& Python, const std::string& Modules) {
  if (!ProgramExists(Python)) return false;
  const std::string probe = Python + " -c 'import " + Modules + "' >/dev/null 2>&1";
  return std::system(probe.c_str()) == 0;
}

inline std::string MissingMessage(const std::string& Peer, const std::string& Packages) {
  return "peer missing: " + Peer + "; install the Debian package(s) " + Packages +
         " (scripts/install-deps.sh), or set KQ_SKIP_PEERS=1 to skip tests against it";
}

}  // namespace kq_peer

#define KQ_REQUIRE_PEER(Available, Peer, Packages)               \
  do {                                                           \
    if (!(Available)) {                                          \
      if (kq_peer::SkipRequested()) {                            \
        GTEST_SKIP() << kq_peer::MissingMessage(Peer, Packages); \
      } else {                                                   \
        FAIL() << kq_peer::MissingMessage(Peer, Packages);       \
      }                                                          \
    }                                                            \
  } while (false)
