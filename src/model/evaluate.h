#pragma once
#include <cstdint>
#include <functional>

#include "core/state.h"

namespace zupo {

// The operation of a function code, chosen by the first character of its name (S by its
// second). A is the operand popped first, B the one popped second (unary functions ignore B).
// A name outside the table (code 0 included) yields 0. Raises FloatError on overflow.
long double ApplyOp(const Simulation& sim, int code, long double A, long double B);

// The shared stack machine over ModelList. termValue gives the value of a variable code.
// Returns true with the model value in v; false when the evaluation ended without one (an
// unknown code: warns incorrectMsg; more than one value left: warns "Error: Data compute not
// match in T"). A pop from the empty stack warns "Error: Stack underfollow. " and yields 0.
// Floating-point faults propagate as FloatError.
bool RunStackMachine(Simulation& sim, const std::function<long double(int code)>& termValue,
                     const char* incorrectMsg, long double& v);

// tanh(Theta2 * v), or the sign of v when |v| > MaxExp.
long double Squash(const Simulation& sim, long double v);

// The forecast of the loaded model at step T of the history windows. Forecast keeps its value
// on entry when the evaluation is abandoned (a fault, an unknown code, values left over).
void EvalModelAt(Simulation& sim, int T, long double& Forecast);

} // namespace zupo
