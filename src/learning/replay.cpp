// The replay score: the profit trader i would have made over the last learning period with the
// loaded model, from its state at the start of the period (the History snapshot) and with the
// market's demand, money and profit rules.
#include "learning/replay.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/errors.h"
#include "core/real6.h"
#include "market/snapshot.h"
#include "model/evaluate.h"

namespace zupo {

namespace {

// Variance (divisor 9) of the ten realised values DimA[t-9..t]; both sums are 6-byte fields.
long double WindowVariance(const Simulation& sim, int t) {
  const auto& A = sim.R.DimA;
  long double sum = 0;
  for (int k = t - 9; k <= t; ++k) sum = Round6(sum + A[k]);
  long double m = 0.1L * sum;
  long double sq = 0;
  for (int k = t - 9; k <= t; ++k) sq = Round6(sq + (A[k] - m) * (A[k] - m));
  return (1.0L / 9.0L) * sq;
}

// The market's demand with its limits, at price P with wealth W (a 6-byte value).
long double ReplayDemand(const Simulation& sim, long double F, long double P, long double W,
                         long double sigma) {
  long double num = F - (1 + static_cast<long double>(sim.P.Irate)) * P;
  long double den = sim.P.Lambda * sigma;
  long double d;
  if (den == 0) {
    d = (num > 0 && P > 0) ? W / P : 0; // the limit of num / den, as the market takes it
  } else {
    d = num / den;
  }
  // A demand beyond the 6-byte range is cut by the budget rule below; only one that survives
  // it is stored (and then raises the overflow error).
  long double h = std::fabs(d) > Real6Max ? d : Round6(d);
  if (h <= ZeroTol) return 0;
  if (W - P * h <= 0) return P > 0 ? Round6(W / P) : 0;
  return Round6(h);
}

// One replayed generation at window position t with the window variance v; returns its profit.
long double ReplayStep(const Simulation& sim, int t, long double v, long double W,
                       long double Fprev, long double F) {
  const auto& R = sim.R;
  if (std::isnan(v)) throw FloatError("Floating point overflow");
  long double theta3 = sim.P.Theta3;
  long double err = R.DimC[t] - Fprev;
  long double sigma = Round6((1 - theta3) * v + theta3 * err * err);
  long double P = R.DimB[t];
  long double h = ReplayDemand(sim, F, P, W, sigma);
  long double M = Round6(W - P * h);
  if (std::fabs(M) < ZeroTol) M = 0;
  return Checked(sim.P.Irate * M + h * (R.DimC[t + 1] - P));
}

} // namespace

// The first replayed position. The replay covers the last G_Gap positions before 111, but never
// reaches before the windows: the variance needs positions t-9..t and the model's lagged
// variables read positions down to t-1-max(NXVar, NYVar). A longer period replays the positions
// the windows hold.
int FirstReplayStep(const Simulation& sim) {
  int lags = std::max<int>(sim.S.NXVar, sim.S.NYVar);
  return std::max({DimLen - sim.P.G_Gap, 10, lags + 2});
}

ReplayWindows MakeReplayWindows(const Simulation& sim) {
  ReplayWindows w;
  w.First = FirstReplayStep(sim);
  for (int t = w.First; t <= DimLen - 1; ++t) {
    try {
      w.Var[t] = WindowVariance(sim, t);
    } catch (const FloatError&) {
      w.Var[t] = std::numeric_limits<long double>::quiet_NaN();
    }
  }
  return w;
}

const ReplayWindows& CurrentReplayWindows(Simulation& sim) {
  ReplayCache& c = sim.Replay;
  if (!c.Valid || c.DimA != sim.R.DimA || c.Windows.First != FirstReplayStep(sim)) {
    c.Valid = false;
    c.Windows = MakeReplayWindows(sim);
    c.DimA = sim.R.DimA;
    c.Valid = true;
  }
  return c.Windows;
}

long double ReplayScore(Simulation& sim, int i) {
  return ReplayScore(sim, i, MakeReplayWindows(sim));
}

long double ReplayScore(Simulation& sim, int i, const ReplayWindows& windows) {
  char set = sim.P.G_Gap == 1 ? 'k' : '1';
  // All five files are looked up so that a missing or short snapshot stops the run; holding,
  // money and variance are recomputed by every step.
  for (char suffix : {'h', 'm', 's'}) SnapshotValue(sim, set, suffix, i);
  long double W = SnapshotValue(sim, set, 'w', i);
  long double Fprev = SnapshotValue(sim, set, 'v', i);

  long double CandidateScore = 0;
  try {
    for (int t = windows.First; t <= DimLen - 1; ++t) {
      // An abandoned evaluation leaves F at the previous forecast: the model repeats it.
      long double F = Fprev;
      EvalModelAt(sim, t, F);
      long double pi = ReplayStep(sim, t, windows.Var[t], W, Fprev, F);
      CandidateScore = Checked(CandidateScore + pi);
      W = Checked(W + pi);
      Fprev = F;
    }
  } catch (const FloatError&) {
    // A candidate whose replay overflows cannot be scored; it is never adopted.
    return -std::numeric_limits<long double>::infinity();
  }
  return CandidateScore;
}

} // namespace zupo
