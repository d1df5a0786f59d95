#include "market/evalmodel.h"

#include <gtest/gtest.h>

#include "model/modelfile.h"
#include "model/symbols.h"

namespace zupo {

// Trader 9 (wealth 110 in slot 509) at the price 10: with Lambda 0 any forecast above 10.1 buys 11.
TEST(EvalModel, ValueReachesTheDemandUnlessAbandoned) {
  Simulation sim;
  BuildSymbolSet(sim.S, ParseSymbolList("+\\-\\*\\%\\"), ParseSymbolList("EXP\\"),
                 ParseSymbolList("XP1\\XP2\\"), ParseSymbolList("YP1\\YP2\\"),
                 ParseSymbolList("ZE1\\ZE2\\"), "K");
  std::tie(sim.P.Irate, sim.P.Theta1, sim.P.Theta2, sim.P.MaxExp) = std::tuple(0.01, 0.1, 0.5, 100);
  sim.M.PriceLag = {0, 10, 9};
  sim.M.PDLag = {0, 11, 10.5};
  std::tie(sim.R.ExtraVals[1], sim.R.ExtraVals[2], sim.T.Wealth[509]) = std::tuple(2.5, 3.5, 110);
  auto eval = [&](const std::string& text) { // the demand (7 unless set) and the model's value
    sim.ModelList = ParseModelText(sim.S, "test model", text);
    double demand = 7;
    EvalModel(sim, 9, demand);
    return std::pair<double, long double>(demand, sim.T.ModelValue[9]);
  };
  // (10 - 1.25) * 9 = 78.75; the other variables read the current market too.
  const std::pair<const char*, long double> models[] = {
      {"XP1K(1.25 )-XP2*", 78.75}, {"YP1", 11}, {"YP2", 10.5}, {"ZE1", 2.5}, {"ZE2", 3.5}};
  for (auto [text, value] : models) EXPECT_EQ(eval(text), std::pair(11.0, value)) << text;
  std::tie(sim.P.MaxExp, sim.M.PriceLag[1]) = std::tuple(11000, 11000);
  EXPECT_EQ(eval("XP1EXPXP1EXP*").first, 7.0); // e^11000 fits in a long double, e^22000 not
  EXPECT_EQ(eval("XP1XP2").first, 7.0);        // a value too many
}

} // namespace zupo
