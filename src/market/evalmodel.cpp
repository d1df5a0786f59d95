#include "market/evalmodel.h"

#include "core/errors.h"
#include "market/traders.h"
#include "model/evaluate.h"

namespace zupo {

namespace {

// The current market value of variable code c (X j: PriceLag[j], Y j: PDLag[j], extra j:
// ExtraVals[j]).
long double CurrentValue(const Simulation& sim, int c) {
  const SymbolSet& S = sim.S;
  int j = c - S.NFunc;
  if (j >= 1 && j <= S.NXVar) return sim.M.PriceLag[j];
  j -= S.NXVar;
  if (j >= 1 && j <= S.NYVar) return sim.M.PDLag[j];
  j -= S.NYVar;
  if (j >= 1 && j <= S.NExtra && j <= MaxVarsPerKind) return sim.R.ExtraVals[j];
  return 0; // not a variable code; the stack machine rejects such codes before asking
}

} // namespace

void EvalModel(Simulation& sim, int K, double& Demand) {
  sim.ModelCursor = sim.ModelList.size();
  EvalModel(sim, K, sim.ModelList, Demand);
}

void EvalModel(Simulation& sim, int K, std::span<const TPostfixItem> items, double& Demand) {
  try {
    long double v = 0;
    auto term = [&sim](int code) { return CurrentValue(sim, code); };
    if (!RunProgram(sim, items, term, "Incorrect operator !", v)) return;
    Demand = TraderDemand(sim, K, v);
  } catch (const FloatError&) {
    // A floating-point fault abandons this evaluation silently; Demand keeps its value.
  }
}

} // namespace zupo
