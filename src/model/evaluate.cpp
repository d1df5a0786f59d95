#include "model/evaluate.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "core/errors.h"

namespace zupo {

namespace {

// 2^63: beyond it the platform's sine and cosine give no result; the model takes 0.
constexpr long double TrigLimit = 9223372036854775808.0L;

// A window position outside 1..DimLen: the model asks for history the windows do not hold.
struct OutsideWindow {};

long double WindowAt(const std::array<double, DimLen + 1>& w, int pos) {
  if (pos < 1 || pos > DimLen) throw OutsideWindow{};
  return w[static_cast<size_t>(pos)];
}

// The sine, cosine, exponential and logarithm of a long double are costly (the sine and cosine
// beyond pi/4 take a long argument reduction). Models judged together share subexpressions, so
// the same arguments come back often: each thread keeps the latest results by the function and
// the argument's bits. The functions are pure, so a kept result is the very value a new call
// would give.
class ResultMemo {
public:
  template <class F> long double Get(SymOp op, long double A, F compute) {
    const auto kind = static_cast<std::uint8_t>(op);
    std::uint64_t mant;
    std::uint16_t se;
    static_assert(sizeof(long double) >= 10);
    std::memcpy(&mant, &A, 8);
    std::memcpy(&se, reinterpret_cast<const char*>(&A) + 8, 2);
    std::uint64_t h =
        (mant ^ (static_cast<std::uint64_t>(se) << 48 | kind)) * 0x9E3779B97F4A7C15ULL;
    Entry& e = table_[h >> (64 - Bits)];
    if (e.Kind == kind && e.Mant == mant && e.Se == se) return e.Value;
    long double v = compute(A);
    e = {mant, se, kind, v};
    return v;
  }

private:
  static constexpr int Bits = 10;
  struct Entry {
    std::uint64_t Mant = 0;
    std::uint16_t Se = 0;
    std::uint8_t Kind = 0; // the operation (SymOp); 0, SymOp::None: empty
    long double Value = 0;
  };
  std::array<Entry, 1 << Bits> table_{};
};

thread_local ResultMemo memo;

} // namespace

long double detail::PopOrWarn(const Simulation& sim, EvalStack& stack) {
  if (stack.Empty()) {
    sim.Warning("Error: Stack underfollow. ");
    return 0;
  }
  return stack.Pop();
}

long double ApplyOp(const Simulation& sim, int code, long double A, long double B) {
  if (code < 1 || code > sim.S.NSym) return 0;
  switch (sim.S.Op[static_cast<size_t>(code)]) {
  case SymOp::Add:
    return Checked(B + A);
  case SymOp::Sub:
    return Checked(B - A);
  case SymOp::Mul:
    return Checked(B * A);
  case SymOp::Div:
    return A == 0 ? 1.0L : Checked(B / A);
  case SymOp::Abs:
    return std::fabs(A);
  case SymOp::Cos:
    return std::fabs(A) >= TrigLimit
               ? 0.0L
               : memo.Get(SymOp::Cos, A, [](long double x) { return Checked(std::cos(x)); });
  case SymOp::Exp: {
    long double x = std::fabs(A) <= sim.P.MaxExp ? A : static_cast<long double>(sim.P.MaxExp);
    return memo.Get(SymOp::Exp, x, [](long double y) { return Checked(std::exp(y)); });
  }
  case SymOp::Log:
    return A == 0 ? 0.0L : memo.Get(SymOp::Log, std::fabs(A), [](long double x) {
      return Checked(std::log(x));
    });
  case SymOp::Sin:
    return std::fabs(A) >= TrigLimit
               ? 0.0L
               : memo.Get(SymOp::Sin, A, [](long double x) { return Checked(std::sin(x)); });
  case SymOp::Sqrt:
    return Checked(std::sqrt(std::fabs(A)));
  case SymOp::None:
    return 0;
  }
  return 0;
}

bool RunStackMachine(Simulation& sim, const std::function<long double(int code)>& termValue,
                     const char* incorrectMsg, long double& v) {
  sim.ModelCursor = sim.ModelList.size();
  return RunProgram(sim, sim.ModelList, termValue, incorrectMsg, v);
}

long double Squash(const Simulation& sim, long double v) {
  if (std::fabs(v) <= sim.P.MaxExp) return std::tanh(static_cast<long double>(sim.P.Theta2) * v);
  return v > 0 ? 1.0L : -1.0L;
}

void EvalModelAt(Simulation& sim, int T, long double& Forecast) {
  sim.ModelCursor = sim.ModelList.size();
  EvalModelAt(sim, sim.ModelList, T, Forecast);
}

void EvalModelAt(const Simulation& sim, std::span<const TPostfixItem> items, int T,
                 long double& Forecast) {
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
    if (!RunProgram(sim, items, termValue, "Incorrect operator", v)) return;
    long double s = Squash(sim, v);
    Forecast = Checked((static_cast<long double>(sim.P.Theta1) * s + 1) * base);
  } catch (const FloatError&) {
    // A fault abandons this evaluation silently; Forecast keeps its value.
  } catch (const OutsideWindow&) {
    // History the windows do not hold: abandoned like a fault.
  }
}

} // namespace zupo
