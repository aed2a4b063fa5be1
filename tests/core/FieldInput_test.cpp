// Numbers typed into the window's fields, and what the error bar says when
// they are not numbers.
#include "FieldInput.h"

#include <gtest/gtest.h>

#include <string>

#include "Commons.h"

namespace {

struct TIntervalRow {
  const char* Text;
  const char* Separator;
  int Milliseconds;       // when accepted
  const char* Complaint;  // part of the error text, when refused
};

class PollInterval : public ::testing::TestWithParam<TIntervalRow> {};

TEST_P(PollInterval, AcceptsDecimalsDownToATenthAndNamesTheFieldOtherwise) {
  const TIntervalRow& row = GetParam();
  if (row.Complaint == nullptr) {
    EXPECT_EQ(PollIntervalMilliseconds("Poll Interval", row.Text, row.Separator), row.Milliseconds);
    return;
  }
  try {
    PollIntervalMilliseconds("Poll Interval", row.Text, row.Separator);
    FAIL() << "accepted '" << row.Text << "'";
  } catch (const EConvertError& error) {
    const std::string text = error.what();
    EXPECT_NE(text.find("\"Poll Interval\""), std::string::npos) << text;
    EXPECT_NE(text.find(row.Complaint), std::string::npos) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PollInterval,
    ::testing::Values(TIntervalRow{"2", ".", 2000, nullptr}, TIntervalRow{"0.5", ".", 500, nullptr},
                      TIntervalRow{"0,5", ",", 500, nullptr},
                      TIntervalRow{" 1.25 ", ",", 1250, nullptr},
                      TIntervalRow{"0", ".", 0, nullptr}, TIntervalRow{"0.1", ".", 100, nullptr},
                      TIntervalRow{"0,5", ".", 0, "non contiene un numero"},
                      TIntervalRow{"abc", ".", 0, "non contiene un numero: \"abc\""},
                      TIntervalRow{"", ".", 0, "non contiene un numero"},
                      TIntervalRow{"1e3", ".", 0, "non contiene un numero"},
                      TIntervalRow{"nan", ".", 0, "non contiene un numero"},
                      TIntervalRow{"1.2.3", ".", 0, "non contiene un numero"},
                      TIntervalRow{"0.05", ".", 0, "vuole 0 oppure da 0.1 a"},
                      TIntervalRow{"-1", ",", 0, "vuole 0 oppure da 0,1 a"},
                      TIntervalRow{"3000000", ".", 0, "vuole 0 oppure"}));

TEST(FieldNumbers, PortAndIntegerErrorsNameTheirField) {
  EXPECT_EQ(FieldPort("Port", "502"), 502);
  EXPECT_EQ(FieldInteger("Slave Address", " 300 "), 300);
  EXPECT_EQ(FieldSlaveAddress("Slave Address", "300"), 44) << "the low 8 bits address the meter";
  EXPECT_EQ(FieldUnitId("Unit ID", "255"), 255);
  EXPECT_EQ(FieldTimeoutMilliseconds("Timeout (s)", "1,5", ","), 1500);
  const std::pair<std::string, std::string> refused[] = {
      {"Port", "50x"},   {"Port", "70000"},    {"Slave Address", "1.5"}, {"Unit ID", "256"},
      {"Unit ID", "-1"}, {"Timeout (s)", "0"}, {"Timeout (s)", "x"},     {"Timeout (s)", "4000"}};
  for (const auto& [field, text] : refused) {
    try {
      if (field == "Port")
        FieldPort(field, text);
      else if (field == "Unit ID")
        FieldUnitId(field, text);
      else if (field == "Timeout (s)")
        FieldTimeoutMilliseconds(field, text, ".");
      else
        FieldInteger(field, text);
      ADD_FAILURE() << text;
    } catch (const EConvertError& error) {
      EXPECT_NE(std::string(error.what()).find("\"" + field + "\""), std::string::npos)
          << error.what();
      EXPECT_NE(std::string(error.what()).find(text), std::string::npos) << error.what();
    }
  }
}

// The cycles take a port number; a text that is none never reaches them.
TEST(FieldNumbers, BadPortTextsAreRefusedBeforeAnyConnection) {
  for (const char* text : {"abc", "", "70000", "-1"})
    EXPECT_THROW(FieldPort("Port", text), EConvertError) << text;
}

}  // namespace
