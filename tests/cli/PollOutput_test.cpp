#include "PollOutput.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TGridRow Row(std::string Address, std::string Value, std::string Description) {
  return {std::move(Address), "INT16", "1-0:1.8.0", std::move(Value), "0102", std::move(Description)};
}

TEST(PollOutput, CsvQuotesOnlyWhatRfc4180Requires) {
  EXPECT_EQ(CsvField("2.5"), "2.5");
  EXPECT_EQ(CsvField("2,5"), "\"2,5\"");
  EXPECT_EQ(CsvField("a \"b\""), "\"a \"\"b\"\"\"");
  EXPECT_EQ(CsvField("line\nbreak"), "\"line\nbreak\"");
  EXPECT_EQ(CsvField("cr\r"), "\"cr\r\"");
  EXPECT_EQ(CsvField(""), "");
}

TEST(PollOutput, CsvHeaderOnceThenTheRowsOfEveryCycle) {
  std::ostringstream out;
  TPollPrinter printer(out, EOutputFormat::ofCsv);
  printer.PrintCycle({Row("0", "2,5", "Tensione, L1")});
  printer.PrintCycle({Row("0", "<N/A>", "Tensione, L1")});
  EXPECT_EQ(out.str(),
            "Indirizzo,Tipo,OBIS,Valore,Valore Registri,Descrizione\r\n"
            "0,INT16,1-0:1.8.0,\"2,5\",0102,\"Tensione, L1\"\r\n"
            "0,INT16,1-0:1.8.0,<N/A>,0102,\"Tensione, L1\"\r\n");
}

TEST(PollOutput, JsonEscapesAndKeepsUtf8) {
  EXPECT_EQ(JsonString("Qualità \"rete\"\\\n\t\x01"), "\"Qualità \\\"rete\\\"\\\\\\n\\t\\u0001\"");
  // A byte that is not UTF-8 (a Windows-1252 'à') cannot reach the output as it is.
  EXPECT_EQ(JsonString("\xE0 x"), "\"\xEF\xBF\xBD x\"");
  EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");  // a surrogate
  EXPECT_EQ(JsonString("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");  // an overlong '/'

  std::ostringstream out;
  TPollPrinter printer(out, EOutputFormat::ofJson);
  printer.PrintCycle({Row("0", "1", "a"), Row("1", "2", "b")});
  printer.PrintCycle({});
  EXPECT_EQ(out.str(),
            "[\n"
            " {\"address\": \"0\", \"type\": \"INT16\", \"obis\": \"1-0:1.8.0\", \"value\": \"1\", "
            "\"raw\": \"0102\", \"description\": \"a\"},\n"
            " {\"address\": \"1\", \"type\": \"INT16\", \"obis\": \"1-0:1.8.0\", \"value\": \"2\", "
            "\"raw\": \"0102\", \"description\": \"b\"}\n"
            "]\n"
            "[]\n");
}

TEST(PollOutput, TableAlignsByCharactersNotBytes) {
  std::ostringstream out;
  TPollPrinter printer(out, EOutputFormat::ofTable);
  printer.PrintCycle({Row("0", "città", "x"), Row("1000", "1", "y")});
  printer.PrintCycle({Row("5", "1", "z")});
  EXPECT_EQ(out.str(),
            "Indirizzo  Tipo   OBIS       Valore  Valore Registri  Descrizione\n"
            "        0  INT16  1-0:1.8.0  città   0102             x\n"
            "     1000  INT16  1-0:1.8.0  1       0102             y\n"
            "\n"
            "Indirizzo  Tipo   OBIS       Valore  Valore Registri  Descrizione\n"
            "        5  INT16  1-0:1.8.0  1       0102             z\n");
  EXPECT_EQ(DisplayWidth("città"), 5u);
}

}  // namespace
