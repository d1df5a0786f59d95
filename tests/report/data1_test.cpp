// Reading the statistics table back: rows, a row still being written, and malformed files.
#include <gtest/gtest.h>
#include <optional>

#include "report/data1.h"
#include "testutil.h"

namespace zupo {
namespace {

using test::TempDir;

const std::string kHeader =
    "GEN          P(t+1)    D(t+1) BuyNo SellNo BeSNo     TotalBid  TotalOffer Twealth1  "
    "Twealth2  Twealth3  Twealth4  Twealth5  AveDepth    AveNode   AveHi      AveVijs       "
    "AveSigma    VarDepth     VarNode    VarHi        VarVijs        VarSigma    SucceedNo     "
    "MartingaleNo  VisitGenNo   VisitLibNo\r\n";
const std::string kRow1 =
    "    1        80.28329  11.29  488     12      0     386.74151   11.32681  0.20000   0.20000 "
    "  0.20000   0.20000   0.20000   3.00400     5.33800   1.00000    95.06842       2.91109    "
    "2.72398     28.75176    0.02279     237.90203        0.00000      0             0          "
    "   0            0\r\n";
// A later row of the same run, as generation 2.
const std::string kRow2 =
    "    2        81.51502  13.74  204    290      6     204.88045   59.44348  0.19988   0.20009 "
    "  0.19999   0.20002   0.20002   2.83200     4.98200   1.00000    98.16489       6.32396    "
    "2.65178     27.82568    0.11415     295.47657       84.61747    120            10          "
    " 344            0\r\n";

Data1Table ReadText(const TempDir& d, const std::string& text) {
  test::WriteText(d / "Data1.txt", text);
  return ReadData1(d / "Data1.txt");
}

TEST(ReadData1, RowsComeBackColumnByColumnWithoutAPartialLastRow) {
  TempDir d;
  Data1Table t = ReadText(d, kHeader + kRow1 + kRow2);
  ASSERT_EQ(t.Rows.size(), 2u);
  EXPECT_FALSE(t.PartialLastRow);
  // Columns are told apart by position: neighbours and the last ones.
  const auto& r = t.Rows[1];
  EXPECT_DOUBLE_EQ(r[kDividend], 13.74);
  EXPECT_EQ(r[kSellNo], 290);
  EXPECT_DOUBLE_EQ(r[kVarSigma], 84.61747);
  EXPECT_EQ(r[kSucceedNo], 120);
  EXPECT_EQ(r[kMartingaleNo], 10);
  EXPECT_EQ(r[kVisitGenNo], 344);
  EXPECT_TRUE(RowsFrom(t, 3).Rows.empty());
  // Line-feed-only files read the same.
  std::string lf = kHeader + kRow1 + kRow2;
  std::erase(lf, '\r');
  EXPECT_EQ(ReadText(d, lf).Rows, t.Rows);

  // A last row still being written is left out, even when it looks complete.
  struct Case {
    std::string Text;
    size_t Rows;
    bool Partial;
  };
  for (const Case& c : {Case{kHeader + kRow1 + kRow2.substr(0, kRow2.size() - 2), 1, true},
                        Case{kHeader + kRow1.substr(0, 40), 0, true}, Case{kHeader, 0, false}}) {
    Data1Table partial = ReadText(d, c.Text);
    EXPECT_EQ(partial.Rows.size(), c.Rows);
    EXPECT_EQ(partial.PartialLastRow, c.Partial);
  }
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  return s.replace(s.find(from), from.size(), to);
}

TEST(ReadData1, MalformedFileIsAnErrorNamingFileAndLine) {
  struct Case {
    std::optional<std::string> Text; // no file without it
    std::string Message;             // after "<path>"
  };
  const Case cases[] = {
      {std::nullopt, ": the statistics table does not exist"},
      {"", ": the statistics table is empty (no header)"},
      {kRow1 + kRow2, " line 1: not the header of a statistics table"},
      {kHeader + kRow1 + Replace(kRow2, "204.88045", "204.8x045"),
       " line 3: field 7 \"204.8x045\" is not a number"},
      {kHeader + kRow1 + Replace(kRow2, " 13.74", ""), " line 3: 26 fields, a row has 27"},
      {kHeader + Replace(kRow1, "\r\n", " 7\r\n"), " line 2: 28 fields, a row has 27"},
      {kHeader + kRow1 + kRow2 + kRow2, " line 4: generation 2 does not follow generation 2"},
      {kHeader + Replace(kRow1, "    1 ", "    0 "), " line 2: \"0\" is not a generation number"},
      {kHeader + Replace(kRow1, "    1 ", "  1.5 "), " line 2: \"1.5\" is not a generation number"},
  };
  for (const Case& c : cases) {
    TempDir d;
    if (c.Text) test::WriteText(d / "Data1.txt", *c.Text);
    EXPECT_TRUE(test::FailsNaming([&] { ReadData1(d / "Data1.txt"); }, d / "Data1.txt" + c.Message))
        << c.Message;
  }
}

} // namespace
} // namespace zupo
