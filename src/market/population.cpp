#include "market/population.h"

#include <algorithm>

#include "market/evalmodel.h"
#include "model/generate.h"
#include "model/modelfile.h"

namespace zupo {

namespace {

// Records tree T as model n. Model n belongs to trader n - 500 G; a model beyond the 500
// trader slots (Full + Grow above 100) is saved but has no trader to measure or evaluate.
void RecordModel(Simulation& sim, PTreeNode& T, int n, int G) {
  const int i = n - MaxTraders * G;
  const bool hasTrader = i >= 1 && i <= MaxTraders;
  if (hasTrader) {
    sim.T.ModelDepth[i] = TreeDepth(T.get());
    sim.T.ModelSize[i] = TreeSize(T.get());
  }
  SaveModel(sim, T, n);
  if (!hasTrader) return;
  LoadModel(sim, n);
  // Starting from the current holding, an abandoned evaluation means "no change of holding".
  double h = sim.T.Shares[sim.T.PrevBase + i];
  EvalModel(sim, i, h);
  sim.T.Shares[sim.T.CurBase + i] = h;
  DisposeList(sim);
}

} // namespace

void InitPopulation(Simulation& sim, int G) {
  int n = MaxTraders * G + 1;
  const int full = std::max(sim.P.Full, 1);
  const int grow = std::max(sim.P.Grow, 1);
  for (int L = 2; L <= 6; ++L) {
    for (int k = 0; k < full; ++k) {
      PTreeNode T;
      GenFull(sim, T, 1, L);
      RecordModel(sim, T, n++, G);
    }
    for (int k = 0; k < grow; ++k) {
      PTreeNode T;
      GenGrow(sim, T, 1, L);
      RecordModel(sim, T, n++, G);
    }
  }
}

} // namespace zupo
