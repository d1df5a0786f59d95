#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "core/state.h"

namespace zupo {

// The operation of a function code (SymbolSet::Op, chosen from its name). A is the operand
// popped first, B the one popped second (unary functions ignore B). A code outside the table
// (0 included) yields 0. Raises FloatError on overflow.
long double ApplyOp(const Simulation& sim, int code, long double A, long double B);

// The shared stack machine over a compiled model. termValue(code) gives the value of a variable
// code. Returns true with the model value in v; false when the evaluation ended without one (an
// unknown code: warns incorrectMsg; more than one value left: warns "Error: Data compute not
// match in T"). A pop from the empty stack warns "Error: Stack underfollow. " and yields 0.
// Floating-point faults propagate as FloatError.
template <class TermValue>
bool RunProgram(const Simulation& sim, std::span<const TPostfixItem> items, TermValue&& termValue,
                const char* incorrectMsg, long double& v);

// The same over the loaded ModelList; ModelCursor ends past the last item read.
bool RunStackMachine(Simulation& sim, const std::function<long double(int code)>& termValue,
                     const char* incorrectMsg, long double& v);

// tanh(Theta2 * v), or the sign of v when |v| > MaxExp.
long double Squash(const Simulation& sim, long double v);

// The forecast of a model at step T of the history windows. Forecast keeps its value on entry
// when the evaluation is abandoned (a fault, an unknown code, values left over).
void EvalModelAt(const Simulation& sim, std::span<const TPostfixItem> items, int T,
                 long double& Forecast);
// The same for the loaded model.
void EvalModelAt(Simulation& sim, int T, long double& Forecast);

// ---------------------------------------------------------------------------------------------

namespace detail {

// The evaluation stack: on the machine stack for every model a run grows (DepthLimit bounds
// them), on the heap only for a longer one.
class EvalStack {
public:
  explicit EvalStack(size_t need) {
    if (need > Fixed) heap_.resize(need);
    data_ = need > Fixed ? heap_.data() : fixed_.data();
  }
  bool Empty() const { return size_ == 0; }
  size_t Size() const { return size_; }
  void Push(long double x) { data_[size_++] = x; }
  long double Pop() { return data_[--size_]; }
  long double Top() const { return data_[size_ - 1]; }

private:
  static constexpr size_t Fixed = 256;
  std::array<long double, Fixed> fixed_;
  std::vector<long double> heap_;
  long double* data_;
  size_t size_ = 0;
};

long double PopOrWarn(const Simulation& sim, EvalStack& stack);

} // namespace detail

template <class TermValue>
bool RunProgram(const Simulation& sim, std::span<const TPostfixItem> items, TermValue&& termValue,
                const char* incorrectMsg, long double& v) {
  const SymbolSet& S = sim.S;
  // Every item pushes at most one value.
  detail::EvalStack stack(items.size());
  for (const TPostfixItem& it : items) {
    int code = it.Sym;
    if (S.IsTerminal(code)) {
      if (code > S.NSym) {
        sim.Warning(incorrectMsg);
        return false;
      }
      stack.Push(S.IsConst(code) ? static_cast<long double>(it.Value) : termValue(code));
    } else if (S.IsBinary(code)) {
      long double A = detail::PopOrWarn(sim, stack);
      long double B = detail::PopOrWarn(sim, stack);
      stack.Push(ApplyOp(sim, code, A, B));
    } else {
      long double A = detail::PopOrWarn(sim, stack);
      stack.Push(ApplyOp(sim, code, A, 0));
    }
  }
  if (stack.Size() > 1) {
    sim.Warning("Error: Data compute not match in T");
    return false;
  }
  if (stack.Empty()) {
    // Only an empty list gets here: there is no value to take.
    sim.Warning("Error: Stack underfollow. ");
    return false;
  }
  v = stack.Top();
  return true;
}

} // namespace zupo
