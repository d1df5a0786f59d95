#include "market/statistics.h"

#include "core/errors.h"
#include "core/format.h"
#include "core/real6.h"
#include "model/modelfile.h"

namespace zupo {

namespace {

constexpr long double Fifth = 0.002L; // 1/500: means and population variances over all traders

long double Sq(long double x) {
  return x * x;
}

} // namespace

void ComputeStatistics(Simulation& sim) {
  const TraderBook& T = sim.T;
  Statistics& St = sim.St;
  St = Statistics{};
  const int cb = T.CurBase;
  // The wealth shares use the wealth booked by this generation's UpdateWealth. A loop generation
  // books into the half that becomes PrevBase when the halves are exchanged; the initial
  // generation of a fresh run (RunGen 1) books into CurBase and exchanges nothing.
  const int wb = (sim.R.RunGen == 1) ? T.CurBase : T.PrevBase;

  for (int i = 1; i <= MaxTraders; ++i) {
    St.AveDepth = Round6(St.AveDepth + static_cast<long double>(T.ModelDepth[i]));
    St.AveNode = Round6(St.AveNode + static_cast<long double>(T.ModelSize[i]));
    St.AveHi += static_cast<long double>(T.Shares[cb + i]);
    St.AveVijs += T.Forecast[cb + i];
    St.AveSigma += static_cast<long double>(T.Sigma[cb + i]);
    St.TotalWealth += T.Wealth[wb + T.OrderIdx[cb + i]];
  }
  St.AveDepth = Round6(St.AveDepth * Fifth);
  St.AveNode = Round6(St.AveNode * Fifth);
  St.AveHi = Checked(St.AveHi * Fifth);
  St.AveVijs = Checked(St.AveVijs * Fifth);
  St.AveSigma = Checked(St.AveSigma * Fifth);
  St.TotalWealth = Checked(St.TotalWealth);

  for (int i = 1; i <= MaxTraders; ++i) {
    St.VarDepth = Round6(St.VarDepth + Sq(static_cast<long double>(T.ModelDepth[i]) - St.AveDepth));
    St.VarNode = Round6(St.VarNode + Sq(static_cast<long double>(T.ModelSize[i]) - St.AveNode));
    St.VarHi = Round6(St.VarHi + Sq(T.Shares[cb + i] - St.AveHi));
    St.VarVijs = Round6(St.VarVijs + Sq(T.Forecast[cb + i] - St.AveVijs));
    St.VarSigma += Sq(T.Sigma[cb + i] - St.AveSigma);
  }
  St.VarDepth = Round6(St.VarDepth * Fifth);
  St.VarNode = Round6(St.VarNode * Fifth);
  St.VarHi = Round6(St.VarHi * Fifth);
  St.VarVijs = Round6(St.VarVijs * Fifth);
  St.VarSigma = Checked(St.VarSigma * Fifth);

  for (int k = 1; k <= 100; ++k)
    for (int g = 1; g <= 5; ++g) St.Twealth[g] += T.Wealth[wb + T.OrderIdx[cb + 100 * (g - 1) + k]];
  // Every trader ruined: the shares are written as 0 instead of dividing by zero.
  for (int g = 1; g <= 5; ++g)
    St.Twealth[g] = (St.TotalWealth == 0) ? 0 : Checked(St.Twealth[g] / St.TotalWealth);
}

std::string StatisticsRow(const Simulation& sim) {
  const MarketState& M = sim.M;
  const Statistics& St = sim.St;
  const RunState& R = sim.R;
  // Each field: the blanks before it, its value, its width and decimals (-1: an integer).
  struct Field {
    int blanks;
    long double value;
    int width, decimals;
  };
  const Field fields[] = {{0, static_cast<long double>(R.RunGen), 5, -1},
                          {2, M.NewPrice, 14, 5},
                          {2, M.Dividend, 5, 2},
                          {2, static_cast<long double>(M.BuyNo), 3, -1},
                          {4, static_cast<long double>(M.SellNo), 3, -1},
                          {2, static_cast<long double>(M.BeSNo), 5, -1},
                          {2, M.TotalBid, 12, 5},
                          {2, M.TotalOffer, 9, 5},
                          {2, St.Twealth[1], 7, 5},
                          {3, St.Twealth[2], 7, 5},
                          {3, St.Twealth[3], 7, 5},
                          {3, St.Twealth[4], 7, 5},
                          {3, St.Twealth[5], 7, 5},
                          {2, St.AveDepth, 8, 5},
                          {3, St.AveNode, 9, 5},
                          {2, St.AveHi, 8, 5},
                          {2, St.AveVijs, 10, 5},
                          {2, St.AveSigma, 12, 5},
                          {2, St.VarDepth, 9, 5},
                          {3, St.VarNode, 10, 5},
                          {2, St.VarHi, 9, 5},
                          {2, St.VarVijs, 12, 5},
                          {3, St.VarSigma, 12, 5},
                          {4, static_cast<long double>(R.SucceedNo), 3, -1},
                          {11, static_cast<long double>(R.MartingaleNo), 3, -1},
                          {11, static_cast<long double>(R.VisitGenNo), 3, -1},
                          {10, static_cast<long double>(R.VisitLibNo), 3, -1}};
  std::string s;
  s.reserve(320);
  for (const Field& f : fields) {
    s.append(static_cast<size_t>(f.blanks), ' ');
    if (f.decimals < 0)
      AppendInt(s, static_cast<long long>(f.value), f.width);
    else
      AppendFixed(s, f.value, f.width, f.decimals);
  }
  EndLine(s);
  return s;
}

std::string DumpLine(const Simulation& sim, int i, const std::string& modelText) {
  const TraderBook& T = sim.T;
  const int c = T.CurBase + i;
  std::string s;
  s.reserve(80 + modelText.size());
  AppendFixed(s, sim.M.PDLag[1] - T.Forecast[T.PrevBase + i], 15, 5);
  s += "  ";
  AppendFixed(s, T.Shares[c], 10, 5);
  s += "  ";
  AppendFixed(s, T.Sigma[c], 10, 5);
  s += "  ";
  AppendFixed(s, T.Forecast[c], 15, 5);
  s += "  ";
  AppendFixed(s, T.ModelValue[i], 15, 5);
  s += "   ";
  // The model file's lines follow one another on the dump line.
  for (char ch : modelText)
    if (ch != '\r' && ch != '\n') s += ch;
  EndLine(s);
  return s;
}

void WriteStatistics(Simulation& sim) {
  ComputeStatistics(sim);
  // Each row is pushed to the kernel at once, so that a run killed later loses nothing already
  // computed.
  sim.Files.Append(sim.Data1File, StatisticsRow(sim), true);
  const int t = sim.R.RunGen;
  if (t == 1 || t % 500 == 0) {
    std::string block = "Generation:" + FormatInt(t);
    EndLine(block);
    for (int i = 1; i <= MaxTraders; ++i)
      block += DumpLine(sim, i, ModelFileText(sim, sim.T.CurBase + i));
    sim.Files.Append(sim.Data2File, block, true);
  }
}

} // namespace zupo
