#include "market/traders.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sys/stat.h>

#include "core/errors.h"
#include "core/paths.h"
#include "core/real6.h"
#include "core/textio.h"
#include "model/evaluate.h"

namespace zupo {

void InitTraders(Simulation& sim) {
  const Params& P = sim.P;
  TraderBook& T = sim.T;
  const long double price = sim.M.Price();
  // With Irate = 0 the interest-equivalent of the initial holding has no value: it counts as 0.
  const long double holdingTerm = P.Irate == 0 ? 0.0L : (long double)P.H0 / P.Irate;
  const long double lastGap =
      Checked((long double)P.G_Gap * ((long double)P.Irate * P.M0 + holdingTerm));
  for (int i = 1; i <= MaxTraders; ++i) {
    const int k = T.PrevBase + i;
    T.Sigma[k] = Round6(4.0L);
    T.Forecast[k] = sim.M.PDLag[1];
    T.Shares[k] = Round6(P.H0);
    T.Money[k] = P.M0;
    T.Wealth[k] = Checked(P.M0 + (long double)P.H0 * price);
    T.ModelDepth[i] = 0;
    T.ModelSize[i] = 0;
    T.GapProfit[i] = 0;
    T.LastGapProfit[i] = lastGap;
  }
}

void UpdateWealth(Simulation& sim) {
  TraderBook& T = sim.T;
  const Params& P = sim.P;
  const long double R = sim.M.PDLag[1] - sim.M.PriceLag[2];
  for (int i = 1; i <= MaxTraders; ++i) {
    const int c = T.CurBase + i;
    const int p = T.PrevBase + i;
    // Generation 1 has no clearing behind it: the initial money and holding earn the return.
    if (sim.R.RunGen == 1)
      T.Profit[i] = Checked((long double)P.Irate * P.M0 + (long double)P.H0 * R);
    else
      T.Profit[i] = Checked((long double)P.Irate * T.Money[c] + (long double)T.Shares[c] * R);
    T.Wealth[c] = Checked(T.Wealth[p] + T.Profit[i]);
    T.GapProfit[i] = Checked(T.GapProfit[i] + T.Profit[i]);
  }
}

namespace {

// Sample variance (divisor 9) of the ten most recent P+D values of DimA.
long double WindowVariance(const Simulation& sim) {
  long double sum = 0;
  for (int k = DimLen - 9; k <= DimLen; ++k) sum += sim.R.DimA[k];
  const long double m = sum * 0.1L;
  long double sq = 0;
  for (int k = DimLen - 9; k <= DimLen; ++k) {
    const long double d = sim.R.DimA[k] - m;
    sq += d * d;
  }
  return sq * (1.0L / 9.0L);
}

// Desired holding before the limits. A zero Lambda x Sigma takes the limit of the quotient:
// everything the wealth buys when the expected excess return is positive, nothing otherwise.
long double RawDemand(const Simulation& sim, int c, int p) {
  const TraderBook& T = sim.T;
  const long double price = sim.M.Price();
  const long double num = T.Forecast[c] - (1.0L + sim.P.Irate) * price;
  const long double den = (long double)sim.P.Lambda * T.Sigma[c];
  if (den == 0) return (num > 0 && price > 0) ? T.Wealth[p] / price : 0.0L;
  return Checked(num / den);
}

} // namespace

double TraderDemand(Simulation& sim, int i, long double v) {
  TraderBook& T = sim.T;
  const int c = T.CurBase + i;
  const int p = T.PrevBase + i;
  const long double pd = sim.M.PDLag[1];
  const long double price = sim.M.Price();

  T.ModelValue[i] = Checked(v);
  const long double s = Squash(sim, v);
  T.Forecast[c] = Checked((1.0L + sim.P.Theta1 * s) * pd);
  T.IsMartingale = std::fabs(T.Forecast[c] - pd) <= ZeroTol ? 1 : 0;

  const long double V = WindowVariance(sim);
  T.Sigma[p] = Round6(V);
  const long double err = pd - T.Forecast[p];
  T.Sigma[c] = Round6((1.0L - sim.P.Theta3) * V + sim.P.Theta3 * err * err);

  // At a price of 0 no budget applies and no holding is priced: the trader demands nothing.
  if (price == 0) return 0.0;
  long double d = RawDemand(sim, c, p);
  if (d <= 0)
    d = 0; // no short positions
  else if (std::fabs(d) <= ZeroTol)
    d = 0;
  else if (T.Wealth[p] - d * price <= 0)
    d = T.Wealth[p] / price; // no borrowing
  // A trader without positive wealth cannot hold shares; the budget cut must not turn short.
  if (d < 0) d = 0;
  return Round6(d);
}

namespace {

// Money after the clearing: what the wealth leaves beside the holding; tiny or negative is 0.
long double MoneyLeft(const Simulation& sim, int c, int p) {
  const long double m = sim.T.Wealth[p] - (long double)sim.T.Shares[c] * sim.M.Price();
  return m <= ZeroTol ? 0.0L : m;
}

void Ration(Simulation& sim, long double B, long double O, long double Q) {
  TraderBook& T = sim.T;
  const long double buyRatio = Q / B;
  const long double sellRatio = Q / O;
  for (int i = 1; i <= MaxTraders; ++i) {
    const int c = T.CurBase + i;
    const int p = T.PrevBase + i;
    const long double held = T.Shares[p];
    const long double delta = (long double)T.Shares[c] - held;
    long double got = held;
    if (delta > 0)
      got = held + delta * buyRatio;
    else if (delta < 0)
      got = held + delta * sellRatio;
    if (std::fabs(got) <= ZeroTol) got = 0;
    T.Shares[c] = Round6(got);
    T.Money[c] = MoneyLeft(sim, c, p);
  }
}

} // namespace

void ClearMarket(Simulation& sim) {
  TraderBook& T = sim.T;
  MarketState& M = sim.M;
  M.BuyNo = M.SellNo = M.BeSNo = 0;
  long double B = 0, O = 0;
  for (int i = 1; i <= MaxTraders; ++i) {
    const long double delta = (long double)T.Shares[T.CurBase + i] - T.Shares[T.PrevBase + i];
    if (delta > 0) {
      B += delta;
      ++M.BuyNo;
    } else if (delta < 0) {
      O -= delta;
      ++M.SellNo;
    } else {
      ++M.BeSNo;
    }
  }
  M.TotalBid = Round6(B);
  M.TotalOffer = Round6(O);
  const long double Q = B < O ? B : O;

  if (B != 0 && O != 0) {
    Ration(sim, B, O, Q);
  } else {
    // One side is empty: nobody trades and holdings are carried over as they are.
    for (int i = 1; i <= MaxTraders; ++i) {
      const int c = T.CurBase + i;
      const int p = T.PrevBase + i;
      T.Shares[c] = T.Shares[p];
      T.Money[c] = MoneyLeft(sim, c, p);
    }
  }

  const long double x = PriceStep * (B - O);
  M.NewPrice = M.Price() * (1.0L + std::tanh(x));
  if (M.NewPrice <= 0) M.NewPrice = 0;

  if (sim.TheClock) sim.Rand.Seed = sim.TheClock->SeedReading();
  M.Dividend = DividendAt(sim, sim.R.RunGen);
}

void RollGapProfit(Simulation& sim) {
  for (int i = 1; i <= MaxTraders; ++i) {
    sim.T.LastGapProfit[i] = sim.T.GapProfit[i];
    sim.T.GapProfit[i] = 0;
  }
}

void SwapHalves(Simulation& sim) {
  sim.T.CurBase = std::abs(500 - sim.T.CurBase);
  sim.T.PrevBase = std::abs(500 - sim.T.PrevBase);
}

namespace {

// The numbers of the dividend file, one per line (the rest of a line is ignored, blank lines
// are skipped). A bad number ends the list with a NaN marker: it is an error only once a
// generation needs that line, as it would be for a reader that stops at line t.
// strict: raise the reader's error instead of marking it.
std::vector<long double> ParseDividends(const std::string& path, bool strict) {
  TextReader in = TextReader::Open(path);
  std::vector<long double> values;
  long double v = 0;
  try {
    while (in.TryReadReal(v)) {
      values.push_back(v);
      in.SkipLine();
    }
  } catch (const RunError&) {
    if (strict) throw;
    values.push_back(std::numeric_limits<long double>::quiet_NaN());
  }
  return values;
}

void RefreshDividends(Simulation& sim, const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    throw RunError(path + ": cannot open for reading: " + std::strerror(errno));
  const long long mtime = (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  DividendCache& D = sim.Dstar;
  if (D.Path == path && D.MTimeNs == mtime && D.Size == (long long)st.st_size) return;
  D.Path = path;
  D.Values = ParseDividends(path, false);
  D.MTimeNs = mtime;
  D.Size = st.st_size;
}

} // namespace

int DividendCount(Simulation& sim) {
  const std::string path = FileInFolder(sim.P.Tree_Path1, "Dstar.txt");
  RefreshDividends(sim, path);
  int n = 0;
  for (long double v : sim.Dstar.Values) {
    if (std::isnan(v)) break;
    ++n;
  }
  return n;
}

long double DividendAt(Simulation& sim, int t) {
  const std::string path = FileInFolder(sim.P.Tree_Path1, "Dstar.txt");
  RefreshDividends(sim, path);
  const std::vector<long double>& values = sim.Dstar.Values;
  if (t < 1 || values.empty()) return 0;
  const size_t k = std::min(values.size(), (size_t)t) - 1;
  if (std::isnan(values[k])) {
    // Read the file again to raise the reader's own message naming the file and the number.
    sim.Dstar.Path.clear();
    ParseDividends(path, true);
    throw RunError(path + ": a dividend cannot be read");
  }
  return values[k];
}

} // namespace zupo
