#include "../OsError.h"

#include <cerrno>
#include <system_error>

void RaiseLastOSError(const std::string& What) {
  throw std::system_error(errno, std::generic_category(), What);
}
