// File records keep their range within one file (last index 9999) through every change, and
// the list owns and frees its records.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ModLinkError.h"
#include "ModbusFileRecord.h"

namespace {

void ExpectModLinkError(const std::function<void()>& Action, const std::string& Message) {
  try {
    Action();
    FAIL() << "expected EModLinkError: " << Message;
  } catch (const EModLinkError& E) {
    EXPECT_EQ(E.what(), Message);
  }
}

TEST(FileRecord, RangeEndsAtTheLastIndexOfAFile) {
  TModbusFileRecord Last(4, 9990, 10);
  EXPECT_EQ(Last.RegCount(), 10);
  EXPECT_EQ(Last.StartReg(), 9990);
  ExpectModLinkError([] { TModbusFileRecord R(4, 9991, 10); },
                     "Starting register index is invalid (9991)");
  // An empty record may start anywhere, even past the last index.
  TModbusFileRecord Empty(4, 10000, 0);
  EXPECT_EQ(Empty.RegCount(), 0);
  EXPECT_EQ(Empty.StartReg(), 10000);
  ExpectModLinkError([] { TModbusFileRecord R(4, 0, -1); }, "Register count is invalid (-1)");
}

TEST(FileRecord, RefusedChangeKeepsStartAndValues) {
  TModbusFileRecord R(1, 9980, 10);
  R.SetRegValue(9, 0xBEEF);
  ExpectModLinkError([&] { R.SetStartReg(9991); }, "Starting register index is invalid (9991)");
  ExpectModLinkError([&] { R.SetRegCount(21); }, "Starting register index is invalid (9980)");
  EXPECT_EQ(R.StartReg(), 9980);
  EXPECT_EQ(R.RegCount(), 10);
  EXPECT_EQ(R.GetRegValue(9), 0xBEEF);
}

TEST(FileRecord, ResizingKeepsValuesAndPadsWithZeros) {
  TModbusFileRecord R(1, 0, 2);
  R.SetRegValue(0, 11);
  R.SetRegValue(1, 22);
  R.SetRegCount(4);
  EXPECT_EQ(R.RegValues(), (TRegValues{11, 22, 0, 0}));
  R.SetRegCount(1);
  EXPECT_EQ(R.RegValues(), (TRegValues{11}));
  // Moving the start leaves the values where they are in the array.
  R.SetStartReg(500);
  EXPECT_EQ(R.RegValues(), (TRegValues{11}));
}

TEST(FileRecord, SettingTheCurrentValueSkipsTheRangeCheck) {
  TModbusFileRecord R(1, 10000, 0);
  R.SetStartReg(10000);
  R.SetRegCount(0);
  EXPECT_EQ(R.StartReg(), 10000);
}

TEST(FileRecord, IndexOutsideTheValuesIsRefused) {
  TModbusFileRecord R(1, 0, 3);
  ExpectModLinkError([&] { R.GetRegValue(-1); }, "Register index is invalid (-1)");
  ExpectModLinkError([&] { R.GetRegValue(3); }, "Register index is invalid (3)");
  ExpectModLinkError([&] { R.SetRegValue(3, 1); }, "Register index is invalid (3)");
}

TEST(FileRecordList, AddDeleteRemoveClear) {
  TModbusFileRecordList List;
  TModbusFileRecord& A = List.Add(1, 10, 2);
  TModbusFileRecord& B = List.Add(2, 20, TRegValues{7, 8, 9});
  EXPECT_EQ(List.Count(), 2);
  EXPECT_EQ(&List.Items(0), &A);
  EXPECT_EQ(B.RegValues(), (TRegValues{7, 8, 9}));
  EXPECT_EQ(A.RegValues(), (TRegValues{0, 0}));

  // A failing Add leaves the list as it was.
  EXPECT_THROW(List.Add(3, 9999, 2), EModLinkError);
  EXPECT_THROW(List.Add(3, 9999, TRegValues{1, 2}), EModLinkError);
  EXPECT_EQ(List.Count(), 2);

  TModbusFileRecord Stranger(9, 0, 1);
  EXPECT_EQ(List.Remove(&Stranger), -1);
  EXPECT_EQ(Stranger.RegCount(), 1);
  EXPECT_EQ(List.Remove(&B), 1);
  EXPECT_EQ(List.Count(), 1);

  EXPECT_THROW(List.Delete(1), std::out_of_range);
  EXPECT_THROW(List.Items(-1), std::out_of_range);
  List.Delete(0);
  EXPECT_EQ(List.Count(), 0);

  List.Add(1, 0, 1);
  List.Add(1, 0, 1);
  List.Clear();
  EXPECT_EQ(List.Count(), 0);
}

}  // namespace
