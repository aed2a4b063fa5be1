// What the about box shows of the system, as Windows reports it: the version name from
// RtlGetVersion through the version table, the memory, the running program's path.
#include <gtest/gtest.h>

#include "Commons.h"

namespace {

TEST(WindowsSystemInfo, NameMemoryAndProgramPath) {
  EXPECT_EQ(GetOSString().rfind("Windows ", 0), 0u) << GetOSString();
  EXPECT_GT(TotalPhysicalMemory(), 0u);
  const std::string program = ProgramFileName();
  ASSERT_GT(program.size(), 4u);
  EXPECT_EQ(program.substr(program.size() - 4), ".exe") << program;
}

}  // namespace
