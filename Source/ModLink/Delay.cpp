#include "Delay.h"

#include <chrono>
#include <thread>

void Delay(std::uint32_t Duration) {
  if (Duration == 0) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(Duration));
}
