// The map files shipped beside the program load, use every data type, fit in
// one serial request, and keep their accented descriptions.
#include <gtest/gtest.h>

#include <set>

#include "RegisterMap.h"

namespace {

void CheckSampleMap(EMapType type, const char* fileName) {
  TRegisterMap map;
  ASSERT_EQ(map.LoadConfig(type, fileName, {false, 0}), TLoadResult::lrOk) << fileName;
  std::set<ERegisterType> types;
  bool accented = false;
  // The firmware-version entry of the normal map is not part of the file.
  const std::size_t first = type == mpNormal ? 1 : 0;
  for (std::size_t i = first; i < map.Regs().size(); ++i) {
    const TConfigRecord& entry = map.Regs()[i];
    types.insert(entry.regType);
    accented |= entry.desc.find("\xC3\xA0") != std::string::npos ||
                entry.desc.find("\xC3\xA8") != std::string::npos;
  }
  EXPECT_EQ(types.size(), static_cast<std::size_t>(REGISTER_TYPE_COUNT)) << fileName;
  EXPECT_TRUE(accented) << fileName << ": expected an accented Italian description";
  EXPECT_LE(map.RequestSize({false, 0}), 125) << fileName;
  EXPECT_GT(map.Regs().size(), 10u);
}

TEST(SampleMaps, NormalMap) {
  CheckSampleMap(mpNormal, NORMAL_MAP_FILE);
  TRegisterMap map;
  ASSERT_EQ(map.LoadConfig(mpNormal, NORMAL_MAP_FILE, {false, 0}), TLoadResult::lrOk);
  EXPECT_EQ(map.Regs()[0].desc, FIRMWARE_VERSION_DESC);
  bool hasVoltageL1 = false;
  for (const auto& entry : map.Regs()) hasVoltageL1 |= entry.obis == "1-0:32.7.0";
  EXPECT_TRUE(hasVoltageL1);
}

TEST(SampleMaps, QvztMap) {
  CheckSampleMap(mpQVZT, QVZT_MAP_FILE);
}

}  // namespace
