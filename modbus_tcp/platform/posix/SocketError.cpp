#include "SocketError.h"

// errno values are the portable conditions themselves.
std::error_condition SocketErrorCondition(int OSError) {
  return std::generic_category().default_error_condition(OSError);
}
