#include "sweep/grid.h"

#include <gtest/gtest.h>

#include "core/errors.h"

namespace zupo {
namespace {

TEST(Grid, KeysTakeTheirOwnSpellingAndTheSectionTheRunReadsThemFrom) {
  auto axes = ParseSets({"irate= 0.05 , 0.1", "gen_no=30", "DO_DIM=1"});
  ASSERT_EQ(axes.size(), 3u);
  EXPECT_EQ(axes[0].Key, "Irate");
  EXPECT_EQ(axes[0].Section, "Stock_Market");
  EXPECT_EQ(axes[0].Values, (std::vector<std::string>{"0.05", "0.1"}));
  EXPECT_EQ(axes[1].Key, "Gen_No");
  EXPECT_EQ(axes[1].Section, "Traders");
  EXPECT_EQ(axes[2].Key, "Do_Dim");
  EXPECT_EQ(axes[2].Section, "Common");
  // A symbol list keeps its backslashes; an empty value is a value.
  auto lists = ParseSets({"BinarySet=+\\-\\,+\\*\\", "Const_Item="});
  EXPECT_EQ(lists[0].Values, (std::vector<std::string>{"+\\-\\", "+\\*\\"}));
  EXPECT_EQ(lists[1].Values, (std::vector<std::string>{""}));
}

TEST(Grid, BadSetOptionsAreRefusedWithTheOptionNamed) {
  struct Case {
    std::vector<std::string> sets;
    std::string message;
  };
  const Case cases[] = {
      {{"Irate"}, "--set Irate: expected KEY=VALUE"},
      {{"Interest=0.1"}, "--set Interest=0.1: \"Interest\" is not a key of the configuration"},
      {{"Stop_No=5"}, "Stop_No is written by the run itself"},
      {{"Running=0"}, "Running is written by the run itself"},
      {{"Irate=0.1", "IRATE=0.2"}, "--set IRATE=0.2: Irate is set twice"},
      {{"G_Gap=5,10,5"}, "the value \"5\" is listed twice"},
      {{"Data_File=a.txt\nb"}, "a value holds a line break"},
  };
  for (const Case& c : cases) {
    try {
      ParseSets(c.sets);
      ADD_FAILURE() << c.sets.back() << " was accepted";
    } catch (const RunError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST(Grid, FirstKeySlowestReplicatesFastestSeedsCountUp) {
  std::vector<SweepAxis> axes{{"Irate", "Stock_Market", {"0.05", "0.1"}},
                              {"G_Gap", "Traders", {"5", "10", "20"}}};
  auto runs = ExpandGrid(axes, 2, 100);
  ASSERT_EQ(runs.size(), 12u);
  std::string seen;
  for (const GridRun& r : runs)
    seen += std::to_string(r.Index) + ":" + r.Values[0] + "/" + r.Values[1] + "/" +
            std::to_string(r.Replicate) + "/" + std::to_string(r.Seed) + " ";
  EXPECT_EQ(seen, "0:0.05/5/1/100 1:0.05/5/2/101 2:0.05/10/1/102 3:0.05/10/2/103 "
                  "4:0.05/20/1/104 5:0.05/20/2/105 6:0.1/5/1/106 7:0.1/5/2/107 "
                  "8:0.1/10/1/108 9:0.1/10/2/109 10:0.1/20/1/110 11:0.1/20/2/111 ");
  // No swept key: replicates of the base run.
  auto reps = ExpandGrid({}, 3, 0);
  ASSERT_EQ(reps.size(), 3u);
  EXPECT_EQ(reps[2].Seed, 2u);
  EXPECT_TRUE(reps[2].Values.empty());
}

TEST(Grid, SeedsStayInTheRangeOfARunsSeed) {
  std::vector<SweepAxis> axes{{"G_Gap", "Traders", {"5", "10"}}};
  EXPECT_EQ(ExpandGrid(axes, 2, 4294967292ull).back().Seed, 4294967295u);
  EXPECT_THROW(ExpandGrid(axes, 2, 4294967293ull), RunError);
  EXPECT_THROW(ExpandGrid(axes, 0, 1), RunError);
}

TEST(Grid, RunIdsHaveFourDigitsOrAsManyAsTheLastRunNeeds) {
  EXPECT_EQ(RunId(7, 8), "0007");
  EXPECT_EQ(RunId(9999, 10000), "9999");
  EXPECT_EQ(RunId(3, 10001), "00003");
  EXPECT_EQ(RunId(12345, 20000), "12345");
}

} // namespace
} // namespace zupo
