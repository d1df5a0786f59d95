#include "market/extradata.h"

#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/real6.h"
#include "testutil.h"

namespace zupo {
namespace {

using test::TempDir;
using test::WriteText;

// Each line's first value is its line number.
struct ExtraData : ::testing::Test {
  TempDir dir;
  Simulation sim;
  void SetUp() override {
    sim.S.NExtra = 2;
    sim.P.ExData_File = dir / "Extra.txt";
  }
  std::vector<double> Feed(int generations) {
    std::vector<double> seen{sim.R.ExtraVals[1]};
    for (int k = 1; k < generations; ++k) {
      ReadExtraLine(sim);
      seen.push_back(sim.R.ExtraVals[1]);
    }
    return seen;
  }
};

TEST_F(ExtraData, LinesWrapAroundAfterTheLast) {
  WriteText(sim.P.ExData_File, "1 0.1\r\n2 0.2 ignored\r\n3 0.3\r\n");
  OpenExtraData(sim);
  EXPECT_EQ(sim.R.ExtraVals[2], Round6(0.1L)); // a 6-byte value
  EXPECT_EQ(Feed(5), (std::vector<double>{1, 2, 3, 1, 2}));
  WriteText(sim.P.ExData_File, "7 8");
  OpenExtraData(sim);
  EXPECT_EQ(Feed(3), (std::vector<double>{7, 7, 7}));
  // Blank lines after the last line do not count as lines.
  WriteText(sim.P.ExData_File, "1 0\n2 0\n\n  \r\n");
  OpenExtraData(sim);
  EXPECT_EQ(Feed(4), (std::vector<double>{1, 2, 1, 2}));
}

TEST_F(ExtraData, SeekLoadsTheLineAndReadsOnFromThere) {
  WriteText(sim.P.ExData_File, "1 0\r\n2 0\r\n3 0\r\n");
  SeekExtraLine(sim, 2);
  EXPECT_EQ(Feed(3), (std::vector<double>{2, 3, 1}));
  // Line numbers wrap over the file's three lines: 5 is line 2, 3001 is line 1.
  SeekExtraLine(sim, 5);
  EXPECT_EQ(Feed(2), (std::vector<double>{2, 3}));
  SeekExtraLine(sim, 3001);
  EXPECT_EQ(Feed(2), (std::vector<double>{1, 2}));
  SeekExtraLine(sim, 3);
  EXPECT_EQ(Feed(2), (std::vector<double>{3, 1}));
}

TEST_F(ExtraData, MissingEmptyOrBadFileNamesTheFile) {
  for (const char* text : {"", "  \r\n", "1 x\r\n"}) {
    WriteText(sim.P.ExData_File, text);
    try {
      OpenExtraData(sim);
      ADD_FAILURE() << "extra data \"" << text << "\" was accepted";
    } catch (const RunError& e) {
      EXPECT_NE(std::string(e.what()).find("Extra.txt"), std::string::npos) << e.what();
    }
  }
  sim.P.ExData_File = dir / "Missing.txt";
  EXPECT_THROW(SeekExtraLine(sim, 4), RunError);
}

} // namespace
} // namespace zupo
