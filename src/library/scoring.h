#pragma once
// The forecast error of many models on windows that slide by one position per generation.
#include <array>
#include <span>
#include <vector>

#include "core/state.h"

namespace zupo {

// MapeScore sums |F(t) - DimA[t]| / DimA[t] over the ten newest window positions. After the
// windows have slid by one, the terms of positions 102..110 are those of 103..111 before, since
// the forecast at a position reads only the windows at and before it. A model then costs one
// new evaluation instead of ten; the sum is formed in MapeScore's order, so the value is the
// same to the last bit.
class MapeScorer {
public:
  static constexpr int Terms = 10; // positions DimLen - 9 .. DimLen

  // What is kept of one model between generations.
  struct Memo {
    std::array<long double, Terms> Term{}; // [k]: position DimLen - 9 + k
    long Epoch = -1;                       // the windows the terms belong to
    long double Next = 0;                  // the forecast at the newest position of ...
    long NextEpoch = -1;                   // ... the windows after these slid by one
  };

  // Takes the windows of a new generation from sim (DimA, DimB, DimC, ExtraVals).
  void NewWindows(const Simulation& sim);
  // MapeScore of the model items on the current windows.
  long double Score(const Simulation& sim, std::span<const TPostfixItem> items, Memo& memo) const;

  // The forecast at the newest position of the next windows is known before they are: it reads
  // only positions before the newest, which are the current windows slid by one. Between
  // BeginAhead and EndAhead sim holds those slid windows, and Ahead keeps the forecast in the
  // memo, which Score then uses if the next windows did slide by one (with the same extra
  // values). Models that read extra values gain nothing: these change every generation.
  void BeginAhead(Simulation& sim) const;
  void Ahead(const Simulation& sim, std::span<const TPostfixItem> items, Memo& memo) const;
  void EndAhead(Simulation& sim) const;
  // The windows a memo's terms or forecast belong to.
  long Epoch() const { return epoch_; }
  // Models evaluated at one window position so far.
  long Evaluations() const { return evaluations_; }

private:
  long double Term(const Simulation& sim, std::span<const TPostfixItem> items, int t) const;
  static long double Error(const RunState& R, long double F, int t);

  long epoch_ = 0;
  int shift_ = -1; // how far the windows moved since the epoch before: 0, 1, or -1 (unknown)
  mutable long evaluations_ = 0;
  std::array<double, DimLen + 1> a_{}, b_{}, c_{};
  std::array<double, MaxVarsPerKind + 1> extra_{};
};

} // namespace zupo
