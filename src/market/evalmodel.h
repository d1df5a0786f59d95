#pragma once
#include <span>

#include "core/state.h"

namespace zupo {

// Evaluates the loaded model of trader K on the current market state and hands its value to
// TraderDemand; Demand := the desired holding. Abandoned silently on a floating-point fault
// (Demand keeps its value on entry).
void EvalModel(Simulation& sim, int K, double& Demand);
// The same for the given model.
void EvalModel(Simulation& sim, int K, std::span<const TPostfixItem> items, double& Demand);

} // namespace zupo
