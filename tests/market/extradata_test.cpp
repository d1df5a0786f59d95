#include "market/extradata.h"

#include <gtest/gtest.h>

#include "testutil.h"

namespace zupo::test {

TEST(ExtraData, LinesWrapAroundAfterTheLastAndSeekStartsAnywhere) {
  TempDir dir;
  Simulation sim;
  std::tie(sim.S.NExtra, sim.P.ExData_File) = std::tuple(2, dir / "Extra.txt");
  auto open = [&](const char* text) { WriteText(sim.P.ExData_File, text), OpenExtraData(sim); };
  auto feed = [&](int generations) { // the first value in this and the following generations
    std::vector<double> seen{sim.R.ExtraVals[1]};
    for (int k = 1; k < generations; ++k, seen.push_back(sim.R.ExtraVals[1])) ReadExtraLine(sim);
    return seen;
  };
  open("1 0.1\r\n2 0.2 ignored\r\n3 0.3\r\n"); // the first number is the line's
  EXPECT_EQ(sim.R.ExtraVals[2], Round6(0.1L)); // a 6-byte value
  EXPECT_EQ(feed(5), std::vector<double>({1, 2, 3, 1, 2}));
  SeekExtraLine(sim, 2);
  EXPECT_EQ(feed(3), std::vector<double>({2, 3, 1}));
  open("7 8\n\n  \r\n"); // one line (blank ones are none): always it
  EXPECT_EQ(feed(3), std::vector<double>({7, 7, 7}));
  EXPECT_THROW(open("1 x\r\n"), RunError);
}

} // namespace zupo::test
