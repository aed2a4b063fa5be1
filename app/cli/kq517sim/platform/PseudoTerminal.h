#pragma once
// A new pseudo-terminal for the simulated meter's serial line: the simulator keeps
// one end, readers open the other by its path. POSIX only: on Windows the simulator
// serves a named COM port instead (Available() is false there).

#include <string>

#include "platform/NativeHandle.h"

class TPseudoTerminal {
 public:
  static bool Available();

  TPseudoTerminal() = default;
  ~TPseudoTerminal() { Close(); }
  TPseudoTerminal(const TPseudoTerminal&) = delete;
  TPseudoTerminal& operator=(const TPseudoTerminal&) = delete;

  // Makes a raw pseudo-terminal. Throws std::runtime_error with the reason.
  void Open();
  void Close() noexcept;
  // Our end, for the serial library to use as a hooked port.
  TNativeHandle Master() const { return FMaster; }
  // The path readers open.
  const std::string& Path() const { return FPath; }

 private:
  TNativeHandle FMaster = InvalidNativeHandle;
  int FKeeper = -1;  // holds the reader's end open, so that readers may come and go
  std::string FPath;
};
