#include <gtest/gtest.h>

#include "Commons.h"

namespace {

TEST(EmbeddedVersion, ProgramsCarryTheProjectVersion) {
  // Debug builds add the " Debug" flag; every other build carries none.
  const std::string expected = std::string(KQ_PROJECT_VERSION) + (KQ_DEBUG_BUILD ? " Debug" : "");
  EXPECT_EQ(GetVersionStr(""), expected);  // this program, through /proc/self/exe
  EXPECT_EQ(GetVersionStr(KQ517POLL_PATH), expected);
}

TEST(EmbeddedVersion, FlagsGivenToTheCMakeFunctionAreShown) {
  EXPECT_EQ(GetVersionStr(FLAGGED_PROGRAM_PATH),
            std::string(KQ_PROJECT_VERSION) + " Pre Release Private Build");
  const auto info = ReadFixedFileInfo(FLAGGED_PROGRAM_PATH);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->dwFileFlagsMask, 0x3Fu);
}

}  // namespace
