// The school: the decision of trader i to look for a better model, the search among the
// population (changed by the genetic operators, judged by replay) and the library (judged by
// forecast error), and keeping the model when nothing better is found.
#include "learning/search.h"

#include <cmath>

#include "core/real6.h"
#include "learning/operators.h"
#include "learning/replay.h"
#include "market/evalmodel.h"
#include "model/evaluate.h"
#include "model/generate.h"
#include "model/modelfile.h"

namespace zupo {

// Where x is undefined (L = 0) or beyond the 6-byte range, the limit is taken: a rise of profit
// gives 0, a fall 1, no change 1/2.
long double SchoolProbability(long double G, long double L) {
  if (L == 0) return G > 0 ? 0.0L : (G < 0 ? 1.0L : 0.5L);
  long double x = (G - L) / std::fabs(L);
  if (std::fabs(x) > Real6Max) return x > 0 ? 0.0L : 1.0L;
  x = Round6(x);
  // Beyond |x| = 1000 the result is 0 or 1 in 6 bytes; this also keeps e^x finite.
  if (x > 1000) return 0;
  if (x < -1000) return 1;
  return Round6(1 / (1 + std::exp(x)));
}

namespace {

// ModelDepth and ModelSize of trader i from its model CurBase + i.
void RecordMeasures(Simulation& sim, int i) {
  ModelMeasures(sim, sim.T.CurBase + i, sim.T.ModelDepth[i], sim.T.ModelSize[i]);
}

// Evaluates model n for trader i into its holding of the new half. An abandoned evaluation
// leaves the holding the trader had.
void EvaluateIntoShares(Simulation& sim, int i, int n) {
  double h = sim.T.Shares[sim.T.PrevBase + i];
  EvalModel(sim, i, OwnModel(sim, n).Items, h);
  sim.T.Shares[sim.T.CurBase + i] = h;
}

// A candidate from the population, written as model CurBase + i. True when it beats the
// trader's own period profit.
bool PopulationTry(Simulation& sim, int i) {
  sim.T.VisitGenFlag = 1;
  int r = sim.Rand.Random(MaxTraders) + 1;
  const Params& P = sim.P;
  if (r <= P.Reproduct) {
    int w = Reproduce(sim, i, false);
    return sim.T.GapProfit[w] >= sim.T.GapProfit[i];
  }
  if (r <= P.Reproduct + P.Mutation) {
    if (P.MutMode == 0)
      PointMutation(sim, i);
    else
      SubtreeMutation(sim, i);
  } else {
    Crossover(sim, i);
  }
  LoadModel(sim, sim.T.CurBase + i);
  return ReplayScore(sim, i, CurrentReplayWindows(sim)) > sim.T.GapProfit[i];
}

// A candidate from the library, written as model CurBase + i. True when its forecast error is
// below that of the trader's own model.
bool LibraryTry(Simulation& sim, int i) {
  sim.T.VisitLibFlag = 1;
  Reproduce(sim, i, true);
  LoadModel(sim, sim.T.CurBase + i);
  long double Ecand = MapeScore(sim, i);
  DisposeList(sim);
  LoadModel(sim, sim.T.PrevBase + i);
  long double Eown = MapeScore(sim, i);
  return Eown > Ecand;
}

} // namespace

void SchoolDecision(Simulation& sim, int i) {
  long double u1 = Round6(sim.Rand.Random(1000) * 0.001L);
  if (0.002L * sim.T.OrderIdx[sim.T.PrevBase + i] > u1) {
    SearchModel(sim, i);
    return;
  }
  long double SchoolProb = SchoolProbability(sim.T.GapProfit[i], sim.T.LastGapProfit[i]);
  long double u2 = sim.Rand.Random(1000) * 0.001L;
  if (u2 <= SchoolProb)
    SearchModel(sim, i);
  else
    KeepModel(sim, i);
}

void SearchModel(Simulation& sim, int i) {
  int n = 0;
  bool success = false;
  do {
    int r0 = sim.Rand.Random(100);
    if (r0 < sim.P.LibraryProb && sim.R.RunGen > 2)
      success = LibraryTry(sim, i);
    else
      success = PopulationTry(sim, i);
    DisposeList(sim);
    ++n;
  } while (!success && n < sim.P.TryNo);

  if (!success) {
    sim.T.SucceedFlag = 0;
    KeepModel(sim, i);
    return;
  }
  sim.T.SucceedFlag = 1;
  EvaluateIntoShares(sim, i, sim.T.CurBase + i);
  FlushModel(sim, sim.T.CurBase + i);
  RecordMeasures(sim, i);
}

void KeepModel(Simulation& sim, int i) {
  EvaluateIntoShares(sim, i, sim.T.PrevBase + i);
  CopyModel(sim, sim.T.PrevBase + i, sim.T.CurBase + i);
  FlushModel(sim, sim.T.CurBase + i);
  RecordMeasures(sim, i);
}

long double MapeScore(Simulation& sim, int /*i*/) {
  const auto& R = sim.R;
  long double E = 0;
  for (int t = DimLen; t >= DimLen - 9; --t) {
    // An abandoned evaluation counts as the forecast of a model value 0: P+D unchanged.
    long double F = R.DimC[t - 1];
    EvalModelAt(sim, t, F);
    if (R.DimA[t] != 0) E += std::fabs((F - R.DimA[t]) / R.DimA[t]);
  }
  return E;
}

} // namespace zupo
