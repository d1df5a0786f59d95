#include "model/evaluate.h"

#include <cmath>
#include <vector>

#include "core/errors.h"

namespace zupo {

namespace {

// 2^63: beyond it the platform's sine and cosine give no result; the model takes 0.
constexpr long double TrigLimit = 9223372036854775808.0L;

long double Pop(const Simulation& sim, std::vector<long double>& stack) {
  if (stack.empty()) {
    sim.Warning("Error: Stack underfollow. ");
    return 0;
  }
  long double v = stack.back();
  stack.pop_back();
  return v;
}

// A window position outside 1..DimLen: the model asks for history the windows do not hold.
struct OutsideWindow {};

long double WindowAt(const std::array<double, DimLen + 1>& w, int pos) {
  if (pos < 1 || pos > DimLen) throw OutsideWindow{};
  return w[static_cast<size_t>(pos)];
}

} // namespace

long double ApplyOp(const Simulation& sim, int code, long double A, long double B) {
  if (code < 1 || code > sim.S.NSym) return 0;
  const std::string& name = sim.S.SymTab[static_cast<size_t>(code)];
  if (name.empty()) return 0;
  switch (name[0]) {
  case '+':
    return Checked(B + A);
  case '-':
    return Checked(B - A);
  case '*':
    return Checked(B * A);
  case '%':
    return A == 0 ? 1.0L : Checked(B / A);
  case 'A':
    return std::fabs(A);
  case 'C':
    return std::fabs(A) >= TrigLimit ? 0.0L : Checked(std::cos(A));
  case 'E': {
    long double x = std::fabs(A) <= sim.P.MaxExp ? A : static_cast<long double>(sim.P.MaxExp);
    return Checked(std::exp(x));
  }
  case 'L':
    return A == 0 ? 0.0L : Checked(std::log(std::fabs(A)));
  case 'S':
    if (name.size() > 1 && name[1] == 'I')
      return std::fabs(A) >= TrigLimit ? 0.0L : Checked(std::sin(A));
    if (name.size() > 1 && name[1] == 'Q') return Checked(std::sqrt(std::fabs(A)));
    return 0;
  default:
    return 0;
  }
}

bool RunStackMachine(Simulation& sim, const std::function<long double(int code)>& termValue,
                     const char* incorrectMsg, long double& v) {
  const SymbolSet& S = sim.S;
  std::vector<long double> stack;
  stack.reserve(32);
  sim.ModelCursor = 0;
  while (sim.ModelCursor < sim.ModelList.size()) {
    const TPostfixItem& it = sim.ModelList[sim.ModelCursor++];
    int code = it.Sym;
    if (S.IsTerminal(code)) {
      if (code > S.NSym) {
        sim.Warning(incorrectMsg);
        return false;
      }
      stack.push_back(S.IsConst(code) ? static_cast<long double>(it.Value) : termValue(code));
    } else if (S.IsBinary(code)) {
      long double A = Pop(sim, stack);
      long double B = Pop(sim, stack);
      stack.push_back(ApplyOp(sim, code, A, B));
    } else {
      long double A = Pop(sim, stack);
      stack.push_back(ApplyOp(sim, code, A, 0));
    }
  }
  if (stack.size() > 1) {
    sim.Warning("Error: Data compute not match in T");
    return false;
  }
  if (stack.empty()) {
    // Only an empty list gets here: there is no value to take.
    sim.Warning("Error: Stack underfollow. ");
    return false;
  }
  v = stack.back();
  return true;
}

long double Squash(const Simulation& sim, long double v) {
  if (std::fabs(v) <= sim.P.MaxExp) return std::tanh(static_cast<long double>(sim.P.Theta2) * v);
  return v > 0 ? 1.0L : -1.0L;
}

void EvalModelAt(Simulation& sim, int T, long double& Forecast) {
  const SymbolSet& S = sim.S;
  const RunState& R = sim.R;
  auto termValue = [&](int code) -> long double {
    int j = code - S.NFunc;
    if (j <= S.NXVar) return WindowAt(R.DimB, T - 1 - j);
    j -= S.NXVar;
    if (j <= S.NYVar) return WindowAt(R.DimC, T - 1 - j);
    j -= S.NYVar;
    return R.ExtraVals[static_cast<size_t>(j)]; // j <= NExtra <= 15
  };
  try {
    long double base = WindowAt(R.DimC, T - 1);
    long double v = 0;
    if (!RunStackMachine(sim, termValue, "Incorrect operator", v)) return;
    long double s = Squash(sim, v);
    Forecast = Checked((static_cast<long double>(sim.P.Theta1) * s + 1) * base);
  } catch (const FloatError&) {
    // A fault abandons this evaluation silently; Forecast keeps its value.
  } catch (const OutsideWindow&) {
    // History the windows do not hold: abandoned like a fault.
  }
}

} // namespace zupo
