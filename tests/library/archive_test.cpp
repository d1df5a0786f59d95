// The library's archive (which models it keeps, where, in what form) and its error.
#include <algorithm>
#include <gtest/gtest.h>
#include <limits>
#include <tuple>

#include "core/random.h"
#include "learning/search.h"
#include "library/archive.h"
#include "library/keeper.h"
#include "library/scoring.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

// A judge over made-up model texts "name:key:error"; "bad" texts are unreadable.
std::optional<ModelJudgement> FakeJudge(const std::string& text) {
  size_t a = text.find(':'), b = text.rfind(':');
  if (a == std::string::npos || a == b) return std::nullopt;
  return ModelJudgement{text.substr(a + 1, b - a - 1), std::stod(text.substr(b + 1))};
}

std::string M(const std::string& name, double error) {
  return name + ":" + name + ":" + std::to_string(error);
}

// A full library: entry w holds model "L<w>" with error w.
LibraryEntries FullLibrary() {
  LibraryEntries e;
  for (int w = 1; w <= MaxTraders; ++w) e[w] = {M("L" + std::to_string(w), w), double(w)};
  return e;
}

TEST(LibraryArchive, KeepsTheBestInPlaceAndTiesFavourTheLibraryThenTheEarlier) {
  LibraryEntries e = FullLibrary();
  // The four best newcomers push out L497..L500; 500.5 and worse stay out.
  std::vector<std::string> pop;
  for (double err : {300.5, 100.5, 600.5, 200.5, 400.5, 700.5, 500.5})
    pop.push_back(M("P" + std::to_string(int(err)), err));
  EXPECT_EQ(RefreshLibrary(e, pop, FakeJudge), 4);
  // Models that stay keep their entry; the best newcomer takes the lowest freed entry.
  EXPECT_EQ(e[496].Text, M("L496", 496));
  for (int w = 497; w <= 500; ++w)
    EXPECT_EQ(e[w].Text, M("P" + std::to_string(w - 496) + "00", (w - 496) * 100 + 0.5));
  EXPECT_EQ(e[500].Mape, 400.5);
  // L496, now the worst, stays against newcomers of its error; of two newcomers that tie for its
  // place, the first takes it.
  EXPECT_EQ(RefreshLibrary(e, {"x:x:496", "y:y:496"}, FakeJudge), 0);
  EXPECT_EQ(RefreshLibrary(e, {"p:p:495.5", "q:q:495.5"}, FakeJudge), 1);
  EXPECT_EQ(e[496].Text, "p:p:495.5");
  EXPECT_EQ(e[495].Text, M("L495", 495));
}

TEST(LibraryArchive, TheSameModelIsKeptOnceAndUnreadableModelsStayOut) {
  LibraryEntries e;
  // The first text of each model (key) is kept, with its error; the entries repeat them, best
  // first.
  RefreshLibrary(e, {"a:k:3", "b:j:2", "c:k:1", "b:j:2", "d:k:0.5"}, FakeJudge);
  EXPECT_EQ(e[1].Text + e[2].Text + e[3].Text + e[500].Text, "b:j:2a:k:3b:j:2a:k:3");
  // Judged again, the repeated entries count once and give their places to the newcomer.
  EXPECT_EQ(RefreshLibrary(e, {"z:z:2.5"}, FakeJudge), 332);
  EXPECT_EQ(e[1].Text + e[2].Text + e[3].Text + e[4].Text + e[5].Text,
            "b:j:2a:k:3z:z:2.5b:j:2z:z:2.5");

  // Unreadable models stay out; an unreadable library entry is dropped and its number given to
  // the next model.
  e = {};
  RefreshLibrary(e, {"bad", "ok:ok:4", "bad"}, FakeJudge);
  for (int w = 1; w <= MaxTraders; ++w) ASSERT_EQ(e[w].Text, "ok:ok:4") << w;
  e[2].Text = "bad";
  EXPECT_EQ(RefreshLibrary(e, {"n:n:9"}, FakeJudge), 250);
  EXPECT_EQ(e[2].Text, "n:n:9");
}

TEST(LibraryArchive, InOrderKeyReadsThePostfixFormAsATree) {
  Simulation sim;
  test::DefaultSymbols(sim);
  const std::pair<const char*, const char*> cases[] = {
      {"X01", "X01"},
      {"X01R(1.25 )-X02*", "((X01-1.25)*X02)"},
      {"Y02SINABS", "ABSSINY02"},
      {"R(-0.07 )X03%", "(-0.07%X03)"},
      {"X01+", "(+X01)"}, // a missing operand is empty
  };
  auto key = [&](const char* t) { return InOrderKey(sim.S, ParseModelText(sim.S, "m", t)); };
  for (auto [postfix, inOrder] : cases) EXPECT_EQ(key(postfix), inOrder) << postfix;
  // Two texts of the same model are one model; a different constant is another.
  EXPECT_EQ(key("X01R(1.254 )+"), key("X01R(1.25 )+"));
  EXPECT_NE(key("X01R(1.26 )+"), key("X01R(1.25 )+"));
}

TEST(LibraryArchive, MapeFileHoldsSixByteErrorsAtTheStartOfEachLine) {
  EXPECT_EQ(LibraryMape(0.1L), Round6(0.1L));
  for (long double big : {1e300L, std::numeric_limits<long double>::infinity(),
                          std::numeric_limits<long double>::quiet_NaN()})
    EXPECT_EQ(LibraryMape(big), Round6(Real6Max)) << double(big);
  LibraryEntries e = FullLibrary();
  e[1].Mape = Round6(0.125L);
  e[2].Mape = Round6(1234.5L);
  e[3].Mape = Round6(Real6Max);
  std::string text = MapeFileText(e);
  EXPECT_EQ(text.substr(0, 72), "1.25000000000000E-0001\r\n"
                                "1.23450000000000E+0003\r\n"
                                "1.70141183460314E+0038\r\n");
  EXPECT_EQ(text.substr(text.size() - 24), "5.00000000000000E+0002\r\n");
  EXPECT_EQ(text.size(), 500u * 24);
}

class Scoring : public ::testing::Test {
protected:
  void SetUp() override {
    test::DefaultSymbols(sim);
    std::tie(sim.P.Theta1, sim.P.Theta2, sim.P.MaxExp) =
        std::tuple(Round6(0.5L), Round6(0.0001L), 10000);
    for (int t = 1; t <= DimLen; ++t) Slide();
  }
  // One generation: the windows move one place down and take a new value at the end.
  void Slide() {
    for (auto* w : {&sim.R.DimA, &sim.R.DimB, &sim.R.DimC})
      std::copy(w->begin() + 2, w->end(), w->begin() + 1);
    sim.R.DimA[DimLen] = Round6(95 + rng.Random(1000) * 0.01L);
    sim.R.DimB[DimLen] = Round6(90 + rng.Random(1000) * 0.01L);
    sim.R.DimC[DimLen] = rng.Random(7) == 0 ? 0.0 : Round6(92 + rng.Random(1000) * 0.01L);
  }

  Simulation sim;
  Rng rng{12345};
};

// The scorer gives MapeScore's value bit for bit as the windows slide, stay, or change, with or
// without forecasts taken ahead (which leave the windows unchanged); a slide costs one evaluation
// per model.
TEST_F(Scoring, EqualsMapeScoreBitForBitWithAndWithoutForecastsAhead) {
  const char* texts[] = {"X01",      "Y01X10*",    "X01SINR(1000000.00 )*COS", "X02Y01%LOG",
                         "R(0.00 )", "Y01EXPX02-", "X03ABSSQRTY02+X01%"};
  std::vector<std::vector<TPostfixItem>> models;
  for (const char* t : texts) models.push_back(ParseModelText(sim.S, "m", t));
  std::vector<MapeScorer::Memo> memos(models.size());
  MapeScorer scorer;
  // Per generation: the windows slide (s), stay (=), change at 50 (x) or 110 (y); A takes the
  // forecasts ahead ("Ass": the second slide must not use them).
  const char* steps = "sss=sxssAsAs=AyAssAsAsAs";
  for (const char* s = steps; *s; ++s) {
    if (*s == 'A') {
      RunState before = sim.R;
      scorer.BeginAhead(sim);
      for (size_t m = 0; m < models.size(); ++m) scorer.Ahead(sim, models[m], memos[m]);
      scorer.EndAhead(sim);
      ASSERT_TRUE(std::tie(before.DimA, before.DimB, before.DimC) ==
                  std::tie(sim.R.DimA, sim.R.DimB, sim.R.DimC));
      continue;
    }
    if (*s == 's') Slide();
    if (*s == 'x' || *s == 'y') {
      double& b = sim.R.DimB[*s == 'x' ? 50 : 110];
      b = Round6(b + 1);
    }
    scorer.NewWindows(sim);
    for (size_t m = 0; m < models.size(); ++m) {
      long double score = scorer.Score(sim, models[m], memos[m]);
      sim.ModelList = models[m]; // as the search scores it
      ASSERT_EQ(score, MapeScore(sim, 0)) << texts[m] << " at step " << (s - steps);
    }
  }
  const long before = scorer.Evaluations();
  Slide();
  scorer.NewWindows(sim);
  for (size_t m = 0; m < models.size(); ++m) scorer.Score(sim, models[m], memos[m]);
  EXPECT_EQ(scorer.Evaluations() - before, long(models.size()));
}

} // namespace
} // namespace zupo
