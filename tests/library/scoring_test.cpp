// The forecast error of the library's models, formed anew from one evaluation per generation.
#include <gtest/gtest.h>

#include "core/random.h"
#include "core/real6.h"
#include "learning/search.h"
#include "library/scoring.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

class Scoring : public ::testing::Test {
protected:
  void SetUp() override {
    test::DefaultSymbols(sim);
    sim.P.Theta1 = Round6(0.5L);
    sim.P.Theta2 = Round6(0.0001L);
    sim.P.MaxExp = 10000;
    sim.Warn = [this](const std::string&) { ++evaluationsWarned; };
    for (int t = 1; t <= DimLen; ++t) Slide();
  }
  // One generation: the windows move one place down and take a new value at the end.
  void Slide() {
    for (int k = 1; k < DimLen; ++k) {
      sim.R.DimA[k] = sim.R.DimA[k + 1];
      sim.R.DimB[k] = sim.R.DimB[k + 1];
      sim.R.DimC[k] = sim.R.DimC[k + 1];
    }
    sim.R.DimA[DimLen] = Round6(95 + rng.Random(1000) * 0.01L);
    sim.R.DimB[DimLen] = Round6(90 + rng.Random(1000) * 0.01L);
    sim.R.DimC[DimLen] = rng.Random(7) == 0 ? 0.0 : Round6(92 + rng.Random(1000) * 0.01L);
  }
  long double Direct(const std::vector<TPostfixItem>& items) {
    sim.ModelList = items;
    return MapeScore(sim, 0);
  }

  Simulation sim;
  Rng rng{12345};
  int evaluationsWarned = 0;
};

TEST_F(Scoring, EqualsMapeScoreBitForBitAsTheWindowsMove) {
  const char* texts[] = {"X01",        "Y02X03*",  "X01SINR(1000000.00 )*COS", "X02Y01%LOG",
                         "Y01EXPX02-", "R(0.00 )", "X03ABSSQRTY02+X01%"};
  std::vector<std::vector<TPostfixItem>> models;
  for (const char* t : texts) models.push_back(ParseModelText(sim.S, "m", t));
  std::vector<MapeScorer::Memo> memos(models.size());
  MapeScorer scorer;
  // Slides, an unchanged generation, a window changed in the middle, slides again.
  const char* steps = "sss=sxss=s";
  for (const char* s = steps; *s; ++s) {
    if (*s == 's') Slide();
    if (*s == 'x') sim.R.DimB[50] = Round6(sim.R.DimB[50] + 1);
    scorer.NewWindows(sim);
    for (size_t m = 0; m < models.size(); ++m) {
      long double fast = scorer.Score(sim, models[m], memos[m]);
      ASSERT_EQ(fast, Direct(models[m])) << texts[m] << " at step " << (s - steps);
    }
  }
}

TEST_F(Scoring, OneEvaluationPerSlideTenOtherwise) {
  // A model whose every evaluation warns ("Error: Stack underfollow. "): warnings count them.
  std::vector<TPostfixItem> items = ParseModelText(sim.S, "m", "X01+");
  MapeScorer scorer;
  MapeScorer::Memo memo;
  struct Step {
    char what;
    int evaluations;
  } steps[] = {{'s', 10}, {'s', 1}, {'s', 1}, {'=', 0}, {'x', 10}, {'s', 1}};
  for (const Step& st : steps) {
    if (st.what == 's') Slide();
    if (st.what == 'x') sim.R.DimC[111] = Round6(sim.R.DimC[111] + 1);
    scorer.NewWindows(sim);
    evaluationsWarned = 0;
    scorer.Score(sim, items, memo);
    EXPECT_EQ(evaluationsWarned, st.evaluations) << st.what;
  }
  // A memo of an older generation is not trusted.
  MapeScorer::Memo stale = memo;
  Slide();
  scorer.NewWindows(sim);
  Slide();
  scorer.NewWindows(sim);
  evaluationsWarned = 0;
  scorer.Score(sim, items, stale);
  EXPECT_EQ(evaluationsWarned, 10);
}

} // namespace
} // namespace zupo
