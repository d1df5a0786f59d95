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
  };

  // Takes the windows of a new generation from sim (DimA, DimB, DimC, ExtraVals).
  void NewWindows(const Simulation& sim);
  // MapeScore of the model items on the current windows.
  long double Score(const Simulation& sim, std::span<const TPostfixItem> items, Memo& memo) const;

private:
  long double Term(const Simulation& sim, std::span<const TPostfixItem> items, int t) const;

  long epoch_ = 0;
  int shift_ = -1; // how far the windows moved since the epoch before: 0, 1, or -1 (unknown)
  std::array<double, DimLen + 1> a_{}, b_{}, c_{};
  std::array<double, MaxVarsPerKind + 1> extra_{};
};

} // namespace zupo
