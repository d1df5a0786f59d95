// The companion's work for one generation, on a copy of the example run folder.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <set>

#include "core/format.h"
#include "core/ini.h"
#include "core/real6.h"
#include "learning/search.h"
#include "library/keeper.h"
#include "model/modelfile.h"
#include "run/runfiles.h"
#include "testutil.h"

namespace zupo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// The forecast error of a model is the sum over the ten newest window positions (111 down to
// 102) of |F - DimA| / DimA. With Theta1 = 0 the forecast is DimC one position back (1 here),
// and DimA[t] = t - 99 gives the terms (a - 1) / a for a = 3..12.
TEST(LibraryKeeper, MapeScoreSumsTheTenNewestPositions) {
  Simulation sim;
  test::DefaultSymbols(sim);
  sim.P.Theta1 = 0;
  sim.P.Theta2 = Round6(0.0001L);
  sim.P.MaxExp = 10000;
  for (int t = 1; t <= DimLen; ++t) {
    sim.R.DimA[t] = t - 99;
    sim.R.DimB[t] = 1;
    sim.R.DimC[t] = 1;
  }
  sim.ModelList = ParseModelText(sim.S, "m", "X01");
  EXPECT_NEAR(static_cast<double>(MapeScore(sim, 1)), 8.396789321789322, 1e-12);
}

std::string Model(int k) {
  // Distinct models: X01 plus a constant k / 100.
  return "X01R(" + FormatFixed(k / 100.0L, 4, 2) + " )+";
}

// The example folder, with the population of generation g's half written from make(i).
class KeeperFolder {
public:
  KeeperFolder() {
    fs::copy(ZUPO_SOURCE_DIR "/examples/default", d_.Path(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    for (int k = 0; k <= 9; ++k) fs::create_directories(d_ / ("run/" + std::to_string(k)));
  }
  std::string Ini() const { return d_ / "Zupo.ini"; }
  std::string Path(const std::string& name) const { return d_ / name; }
  void Population(int g, const std::function<std::string(int)>& make) const {
    int base = HalfOfGeneration(g);
    for (int i = 1; i <= MaxTraders; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "run/%d/T%04d.dat", std::min((base + i) / 100, 9), base + i);
      test::WriteText(d_ / name, make(i));
    }
    test::WriteText(d_ / ("run/Gen" + std::to_string(g)), "");
  }
  std::string Library(int n) const {
    char name[32];
    std::snprintf(name, sizeof name, "lib/%d/T%04d.dat", std::min(n / 100, 9), n);
    return d_ / name;
  }

private:
  TempDir d_;
};

TEST(LibraryKeeper, FirstGenerationFillsTheLibraryTheRunReadsNext) {
  KeeperFolder f;
  f.Population(1, [](int i) { return Model(i); });
  LibraryKeeper keeper(f.Ini());
  GenerationReport r = keeper.Serve(1);
  EXPECT_EQ(r.Changed, 500);
  EXPECT_FALSE(fs::exists(f.Path("run/Gen1")));

  // Generation 2 reads the library as models 501..1000; 1..500 are written one generation later.
  EXPECT_FALSE(fs::exists(f.Library(1)));
  std::string mape = test::ReadText(f.Path("run/Mape.txt"));
  ASSERT_EQ(mape.size(), 500u * 24);
  // Each line holds the error of the model of its entry, judged on the window files.
  Simulation sim;
  sim.P = keeper.Sim().P;
  sim.S = keeper.Sim().S;
  ReadWindowFiles(sim);
  std::vector<double> errors;
  for (int w = 1; w <= MaxTraders; ++w) {
    std::string text = test::ReadText(f.Library(500 + w));
    sim.ModelList = ParseModelText(sim.S, "m", text);
    double e = LibraryMape(MapeScore(sim, w));
    std::string v = FormatSci23(e).substr(1) + "\r\n";
    ASSERT_EQ(mape.substr((w - 1) * 24, 24), v) << "entry " << w << " " << text;
    errors.push_back(e);
  }
  std::sort(errors.begin(), errors.end());
  EXPECT_EQ(r.Best, errors[0]);
  EXPECT_EQ(r.Median, errors[249]);
  // The 500 models are distinct and kept in entry order of first appearance.
  EXPECT_EQ(test::ReadText(f.Library(501)), Model(1));
  EXPECT_EQ(test::ReadText(f.Library(1000)), Model(500));
}

// Generation 2 in two folders: served by the companion that served generation 1, and by a new one
// (a restarted companion) that reads the library back from the files. Same bytes.
TEST(LibraryKeeper, WhatItWritesDependsOnlyOnTheFilesOfTheGeneration) {
  KeeperFolder a, b;
  std::unique_ptr<LibraryKeeper> ka, kb;
  for (auto [f, k] : {std::pair{&a, &ka}, {&b, &kb}}) {
    IniWrite(f->Ini(), "Traders", "G_Gap", "1");           // every generation learns: new models
    f->Population(1, [](int i) { return Model(i % 40); }); // 40 distinct models, repeated
    *k = std::make_unique<LibraryKeeper>(f->Ini());
    (*k)->Serve(1);
  }
  kb = std::make_unique<LibraryKeeper>(b.Ini());
  for (const KeeperFolder* f : {&a, &b})
    f->Population(2, [](int i) { return i % 2 ? Model(1000 + i) : "X02"; });
  GenerationReport ra = ka->Serve(2), rb = kb->Serve(2);
  EXPECT_EQ(ra.Changed, rb.Changed);
  EXPECT_GT(ra.Changed, 0);
  EXPECT_EQ(test::ReadText(a.Path("run/Mape.txt")), test::ReadText(b.Path("run/Mape.txt")));
  for (int n = 1; n <= 1000; ++n)
    ASSERT_EQ(test::ReadText(a.Library(n)), test::ReadText(b.Library(n))) << n;
  // Generation 2's library went to models 1..500; models 501..1000 still hold generation 1's.
  std::set<std::string> gen1;
  for (int w = 1; w <= MaxTraders; ++w) gen1.insert(test::ReadText(a.Library(500 + w)));
  EXPECT_EQ(gen1.size(), 40u);
  bool x02 = false;
  for (int w = 1; w <= MaxTraders; ++w) x02 |= test::ReadText(a.Library(w)) == "X02";
  EXPECT_TRUE(x02) << "the population's models of generation 2 were not judged";
}

TEST(LibraryKeeper, StartUpErrorsNameTheKey) {
  KeeperFolder f;
  IniWrite(f.Ini(), "Common", "DimB_File", "");
  try {
    LibraryKeeper k(f.Ini());
    FAIL() << "no error";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("DimB_File"), std::string::npos) << e.what();
  }
  IniWrite(f.Ini(), "Common", "DimB_File", "DimB.txt");
  IniWrite(f.Ini(), "Traders", "DepthLimit", "deep");
  EXPECT_THROW(LibraryKeeper k(f.Ini()), std::exception);
}

} // namespace
} // namespace zupo
