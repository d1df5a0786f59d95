#include "model/report.h"

#include "core/format.h"
#include "core/textio.h"
#include "model/modelfile.h"

namespace zupo {

namespace {

// The trader with the largest Profit; ties go to the lowest number.
int BestTrader(const Simulation& sim) {
  int b = 1;
  for (int i = 2; i <= MaxTraders; ++i)
    if (sim.T.Profit[static_cast<size_t>(i)] > sim.T.Profit[static_cast<size_t>(b)]) b = i;
  return b;
}

void AppendGenHead(std::string& out, const char* label, int gen) {
  out += label;
  AppendInt(out, gen, 3);
  out += "  ==> ";
}

} // namespace

std::string BestModelReportText(Simulation& sim) {
  const TraderBook& T = sim.T;
  int b = BestTrader(sim);
  size_t m = static_cast<size_t>(T.CurBase + b);
  int gen = sim.R.RunGen + 1;

  std::string out = "The Wealth = ";
  AppendFixed(out, T.Wealth[m], 15, 5);
  EndLine(out);
  out += "The Profit = ";
  AppendSci23(out, T.Profit[static_cast<size_t>(b)]);
  EndLine(out);
  out += "The Amount of Money = ";
  AppendFixed(out, T.Money[m], 15, 5);
  EndLine(out);
  out += "The Share of Stock = ";
  AppendFixed(out, T.Shares[m], 15, 5);
  EndLine(out);

  int nodes = 0, terms = 0;
  PTreeNode tree = ReadTree(sim, static_cast<int>(m), nodes, terms);
  AppendGenHead(out, "The Inorder form of GEN", gen);
  out += InOrderText(sim.S, tree.get());
  EndLine(out);
  DisposeTree(tree);

  // The postfix line shows the model as read, written back token by token; the loaded model
  // list of the caller is left alone.
  AppendGenHead(out, "The PostOrder form of GEN", gen);
  out += ItemsText(sim.S, OwnModel(sim, static_cast<int>(m)).Items);
  EndLine(out);
  return out;
}

void BestModelReport(Simulation& sim) {
  std::string text = BestModelReportText(sim);
  sim.Files.InPlace(ModelFileName(sim, "Best", sim.R.RunGen + 1), text);
}

} // namespace zupo
