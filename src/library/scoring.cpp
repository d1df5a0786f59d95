#include "library/scoring.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "model/evaluate.h"

namespace zupo {

namespace {

using Window = std::array<double, DimLen + 1>;

// Compared bit for bit: 0 and -0 are not the same input to a model.
template <class A> bool Same(const A& x, const A& y) {
  return std::memcmp(x.data(), y.data(), sizeof x) == 0;
}

bool SlidByOne(const Window& before, const Window& now) {
  return std::memcmp(now.data() + 1, before.data() + 2, (DimLen - 1) * sizeof(double)) == 0;
}

} // namespace

void MapeScorer::NewWindows(const Simulation& sim) {
  const RunState& R = sim.R;
  if (epoch_ == 0 || !Same(R.ExtraVals, extra_))
    shift_ = -1;
  else if (Same(R.DimA, a_) && Same(R.DimB, b_) && Same(R.DimC, c_))
    shift_ = 0;
  else if (SlidByOne(a_, R.DimA) && SlidByOne(b_, R.DimB) && SlidByOne(c_, R.DimC))
    shift_ = 1;
  else
    shift_ = -1;
  a_ = R.DimA;
  b_ = R.DimB;
  c_ = R.DimC;
  extra_ = R.ExtraVals;
  ++epoch_;
}

long double MapeScorer::Term(const Simulation& sim, std::span<const TPostfixItem> items,
                             int t) const {
  // As MapeScore: an abandoned evaluation forecasts P+D unchanged; a zero DimA adds nothing.
  const RunState& R = sim.R;
  long double F = R.DimC[t - 1];
  EvalModelAt(sim, items, t, F);
  ++evaluations_;
  return Error(R, F, t);
}

long double MapeScorer::Error(const RunState& R, long double F, int t) {
  return R.DimA[t] != 0 ? std::fabs((F - R.DimA[t]) / R.DimA[t]) : 0.0L;
}

void MapeScorer::BeginAhead(Simulation& sim) const {
  // Position DimLen of the slid windows is not known yet, and not read.
  constexpr double unknown = std::numeric_limits<double>::quiet_NaN();
  for (auto* w : {&sim.R.DimA, &sim.R.DimB, &sim.R.DimC}) {
    std::memmove(w->data() + 1, w->data() + 2, (DimLen - 1) * sizeof(double));
    (*w)[DimLen] = unknown;
  }
}

void MapeScorer::Ahead(const Simulation& sim, std::span<const TPostfixItem> items,
                       Memo& memo) const {
  long double F = sim.R.DimC[DimLen - 1];
  EvalModelAt(sim, items, DimLen, F);
  ++evaluations_;
  memo.Next = F;
  memo.NextEpoch = epoch_;
}

void MapeScorer::EndAhead(Simulation& sim) const {
  sim.R.DimA = a_;
  sim.R.DimB = b_;
  sim.R.DimC = c_;
}

long double MapeScorer::Score(const Simulation& sim, std::span<const TPostfixItem> items,
                              Memo& memo) const {
  constexpr int first = DimLen - Terms + 1;
  int reuse = 0; // terms kept from the windows before
  if (memo.Epoch == epoch_ - 1 && shift_ >= 0) reuse = Terms - shift_;
  if (memo.Epoch == epoch_) reuse = Terms;
  if (reuse == Terms - 1) {
    std::move(memo.Term.begin() + 1, memo.Term.end(), memo.Term.begin());
    if (memo.NextEpoch == epoch_ - 1) { // the newest forecast is known already
      memo.Term[Terms - 1] = Error(sim.R, memo.Next, DimLen);
      reuse = Terms;
    }
  }
  for (int k = reuse; k < Terms; ++k) memo.Term[k] = Term(sim, items, first + k);
  memo.Epoch = epoch_;
  long double E = 0;
  for (int k = Terms - 1; k >= 0; --k) E += memo.Term[k];
  return E;
}

} // namespace zupo
