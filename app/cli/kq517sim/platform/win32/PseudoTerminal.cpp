#include "../PseudoTerminal.h"

#include <stdexcept>

bool TPseudoTerminal::Available() {
  return false;
}

void TPseudoTerminal::Open() {
  throw std::runtime_error("Windows has no pseudo-terminals: name a COM port with --serial");
}

void TPseudoTerminal::Close() noexcept {}
