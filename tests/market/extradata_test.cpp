#include "market/extradata.h"

#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/real6.h"
#include "testutil.h"

namespace zupo {
namespace {

using test::TempDir;
using test::WriteText;

struct ExtraData : ::testing::Test {
  TempDir dir;
  Simulation sim;
  void SetUp() override {
    sim.S.NExtra = 2;
    sim.P.ExData_File = dir / "Extra.txt";
  }
  // The first value of the line now loaded (each line's first value is its line number).
  double Now() const { return sim.R.ExtraVals[1]; }
};

TEST_F(ExtraData, ThreeLinesFeedOneTwoThreeOneTwo) {
  WriteText(sim.P.ExData_File, "1 0.1\r\n2 0.2 ignored\r\n3 0.3\r\n");
  OpenExtraData(sim);
  EXPECT_EQ(Now(), 1.0);
  EXPECT_EQ(sim.R.ExtraVals[2], Round6(0.1L)); // a 6-byte value
  std::vector<double> seen;
  for (int k = 0; k < 4; ++k) {
    ReadExtraLine(sim);
    seen.push_back(Now());
  }
  EXPECT_EQ(seen, (std::vector<double>{2, 3, 1, 2}));
  EXPECT_EQ(sim.R.ExtraVals[2], Round6(0.2L));
}

TEST_F(ExtraData, OneLineFeedsThatLineEveryTime) {
  WriteText(sim.P.ExData_File, "7 8");
  OpenExtraData(sim);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(Now(), 7.0);
    EXPECT_EQ(sim.R.ExtraVals[2], 8.0);
    ReadExtraLine(sim);
  }
}

TEST_F(ExtraData, TrailingBlankLinesDoNotCountAsALine) {
  WriteText(sim.P.ExData_File, "1 0\n2 0\n\n  \r\n");
  OpenExtraData(sim);
  std::vector<double> seen{Now()};
  for (int k = 0; k < 3; ++k) {
    ReadExtraLine(sim);
    seen.push_back(Now());
  }
  EXPECT_EQ(seen, (std::vector<double>{1, 2, 1, 2}));
}

TEST_F(ExtraData, SeekLoadsTheLineAndReadsOnFromThere) {
  WriteText(sim.P.ExData_File, "1 0\r\n2 0\r\n3 0\r\n");
  SeekExtraLine(sim, 2);
  EXPECT_EQ(Now(), 2.0);
  ReadExtraLine(sim);
  EXPECT_EQ(Now(), 3.0);
  ReadExtraLine(sim);
  EXPECT_EQ(Now(), 1.0);
  // Line numbers wrap over the file's three lines: 5 is line 2, 3001 is line 1.
  SeekExtraLine(sim, 5);
  EXPECT_EQ(Now(), 2.0);
  SeekExtraLine(sim, 3001);
  EXPECT_EQ(Now(), 1.0);
  SeekExtraLine(sim, 3);
  EXPECT_EQ(Now(), 3.0);
  ReadExtraLine(sim);
  EXPECT_EQ(Now(), 1.0);
}

TEST_F(ExtraData, SeekGivesTheStreamOfTheUninterruptedRun) {
  WriteText(sim.P.ExData_File, "1 0\n2 0\n3 0\n4 0\n5 0\n");
  OpenExtraData(sim);
  std::vector<double> straight{Now()};
  for (int g = 2; g <= 12; ++g) {
    ReadExtraLine(sim);
    straight.push_back(Now());
  }
  Simulation resumed;
  resumed.S = sim.S;
  resumed.P = sim.P;
  SeekExtraLine(resumed, 8);
  std::vector<double> after{resumed.R.ExtraVals[1]};
  for (int g = 9; g <= 12; ++g) {
    ReadExtraLine(resumed);
    after.push_back(resumed.R.ExtraVals[1]);
  }
  EXPECT_EQ(after, std::vector<double>(straight.begin() + 7, straight.end()));
}

TEST_F(ExtraData, MissingEmptyOrBadFileNamesTheFile) {
  for (const char* text : {"", "  \r\n", "1 x\r\n"}) {
    WriteText(sim.P.ExData_File, text);
    try {
      OpenExtraData(sim);
      FAIL() << "extra data \"" << text << "\" was accepted";
    } catch (const RunError& e) {
      EXPECT_NE(std::string(e.what()).find("Extra.txt"), std::string::npos) << e.what();
    }
  }
  sim.P.ExData_File = dir / "Missing.txt";
  EXPECT_THROW(SeekExtraLine(sim, 4), RunError);
}

} // namespace
} // namespace zupo
