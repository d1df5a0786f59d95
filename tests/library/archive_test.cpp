// The archive of the library: which models it keeps, where, and in what form.
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <map>

#include "core/real6.h"
#include "library/archive.h"
#include "library/keeper.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

// A judge over made-up model texts "name:key:error"; "bad" texts are unreadable.
std::optional<ModelJudgement> FakeJudge(const std::string& text) {
  size_t a = text.find(':'), b = text.rfind(':');
  if (a == std::string::npos || a == b) return std::nullopt;
  return ModelJudgement{text.substr(a + 1, b - a - 1), std::stod(text.substr(b + 1))};
}

std::string M(const std::string& name, double error) {
  return name + ":" + name + ":" + std::to_string(error);
}

// A full library: entry w holds model "L<w>" with error w.
LibraryEntries FullLibrary() {
  LibraryEntries e;
  for (int w = 1; w <= MaxTraders; ++w) e[w] = {M("L" + std::to_string(w), w), double(w)};
  return e;
}

TEST(LibraryArchive, KeepsTheBestOfLibraryAndPopulationInPlace) {
  LibraryEntries e = FullLibrary();
  // Newcomers with errors 100.5, 200.5, 300.5, 400.5, 500.5, 600.5 and 700.5: the first four
  // push out L497..L500 (the worst four); 500.5 and worse stay out.
  std::vector<std::string> pop;
  for (double err : {300.5, 100.5, 600.5, 200.5, 400.5, 700.5, 500.5})
    pop.push_back(M("P" + std::to_string(int(err)), err));
  EXPECT_EQ(RefreshLibrary(e, pop, FakeJudge), 4);
  // Models that stay keep their entry; the best newcomer takes the lowest freed entry.
  EXPECT_EQ(e[1].Text, M("L1", 1));
  EXPECT_EQ(e[496].Text, M("L496", 496));
  EXPECT_EQ(e[497].Text, M("P100", 100.5));
  EXPECT_EQ(e[498].Text, M("P200", 200.5));
  EXPECT_EQ(e[499].Text, M("P300", 300.5));
  EXPECT_EQ(e[500].Text, M("P400", 400.5));
  EXPECT_EQ(e[500].Mape, 400.5);
}

TEST(LibraryArchive, TheSameModelIsKeptOnce) {
  LibraryEntries e;
  // Three texts of model "k" (same key), the best one coming last; and model "j" twice.
  std::vector<std::string> pop = {"a:k:3", "b:j:2", "c:k:1", "b:j:2", "d:k:0.5"};
  RefreshLibrary(e, pop, FakeJudge);
  // The first text of each model is kept, with the error it was judged with: k (3), j (2).
  // With two distinct models, the 500 entries repeat them, best first.
  EXPECT_EQ(e[1].Text, "b:j:2");
  EXPECT_EQ(e[2].Text, "a:k:3");
  EXPECT_EQ(e[3].Text, "b:j:2");
  EXPECT_EQ(e[500].Text, "a:k:3");
  // Judged again as the library, the repeated entries count once and give back their entries
  // to the newcomer; nothing else moves.
  EXPECT_EQ(RefreshLibrary(e, {"z:z:2.5"}, FakeJudge), 332);
  EXPECT_EQ(e[1].Text, "b:j:2");
  EXPECT_EQ(e[2].Text, "a:k:3");
  EXPECT_EQ(e[3].Text, "z:z:2.5");
  EXPECT_EQ(e[4].Text, "b:j:2");
  EXPECT_EQ(e[5].Text, "z:z:2.5");
}

TEST(LibraryArchive, TiesFavourTheLibraryThenTheEarlier) {
  LibraryEntries e = FullLibrary();
  // L500 (error 500) ties with two newcomers: the library's model stays. Two newcomers tie for
  // the one place that L500 leaves: the first of them takes it.
  EXPECT_EQ(RefreshLibrary(e, {"x:x:500", "y:y:500"}, FakeJudge), 0);
  EXPECT_EQ(e[500].Text, M("L500", 500));
  EXPECT_EQ(RefreshLibrary(e, {"p:p:499.5", "q:q:499.5"}, FakeJudge), 1);
  EXPECT_EQ(e[500].Text, "p:p:499.5");
  EXPECT_EQ(e[499].Text, M("L499", 499));
}

TEST(LibraryArchive, UnreadableModelsStayOut) {
  LibraryEntries e;
  RefreshLibrary(e, {"bad", "ok:ok:4", "bad"}, FakeJudge);
  for (int w = 1; w <= MaxTraders; ++w) ASSERT_EQ(e[w].Text, "ok:ok:4") << w;
  // An unreadable library entry is dropped and its number given to the next model.
  e[2].Text = "bad";
  EXPECT_EQ(RefreshLibrary(e, {"n:n:9"}, FakeJudge), 250);
  EXPECT_EQ(e[2].Text, "n:n:9");
}

TEST(LibraryArchive, InOrderKeyReadsThePostfixFormAsATree) {
  Simulation sim;
  test::DefaultSymbols(sim);
  struct Case {
    const char* postfix;
    const char* inOrder;
  } cases[] = {
      {"X01", "X01"},
      {"X01R(1.25 )-X02*", "((X01-1.25)*X02)"},
      {"Y02SINABS", "ABSSINY02"},
      {"R(-0.07 )X03%", "(-0.07%X03)"},
      {"X01+", "(+X01)"}, // a missing operand is empty
  };
  for (const Case& c : cases)
    EXPECT_EQ(InOrderKey(sim.S, ParseModelText(sim.S, "m", c.postfix)), c.inOrder) << c.postfix;
  // Two texts of the same model are one model; a different constant is another.
  auto key = [&](const char* t) { return InOrderKey(sim.S, ParseModelText(sim.S, "m", t)); };
  EXPECT_EQ(key("X01R(1.254 )+"), key("X01R(1.25 )+"));
  EXPECT_NE(key("X01R(1.26 )+"), key("X01R(1.25 )+"));
}

TEST(LibraryArchive, ErrorsAreSixByteRealsTheRunCanRead) {
  EXPECT_EQ(LibraryMape(0.1L), Round6(0.1L));
  EXPECT_EQ(LibraryMape(1e300L), Round6(Real6Max));
  EXPECT_EQ(LibraryMape(std::numeric_limits<long double>::infinity()), Round6(Real6Max));
  EXPECT_EQ(LibraryMape(std::numeric_limits<long double>::quiet_NaN()), Round6(Real6Max));
}

TEST(LibraryArchive, MapeFileHasOneErrorAtTheStartOfEachLine) {
  LibraryEntries e = FullLibrary();
  e[1].Mape = Round6(0.125L);
  e[2].Mape = Round6(1234.5L);
  e[3].Mape = Round6(Real6Max);
  std::string text = MapeFileText(e);
  EXPECT_EQ(text.substr(0, 72), "1.25000000000000E-0001\r\n"
                                "1.23450000000000E+0003\r\n"
                                "1.70141183460314E+0038\r\n");
  EXPECT_EQ(text.substr(text.size() - 24), "5.00000000000000E+0002\r\n");
  EXPECT_EQ(text.size(), 500u * 24);
}

} // namespace
} // namespace zupo
