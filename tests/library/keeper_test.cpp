// The companion: its work for one generation and its life (lock, signal files, ends).
#include <algorithm>
#include <future>
#include <gtest/gtest.h>
#include <set>

#include "core/format.h"
#include "e2e/e2e_util.h"
#include "library/keeper.h"
#include "library/service.h"
#include "run/companion.h"

namespace zupo {
namespace {

using namespace e2e;
using namespace std::chrono_literals;

std::string Model(int k) { // distinct models: X01 plus k / 100
  return "X01R(" + FormatFixed(k / 100.0L, 4, 2) + " )+";
}

// The example folder, with the population of generation g's half written from make(i).
class KeeperFolder {
public:
  KeeperFolder() {
    Prepare(d_, {});
    for (int k = 0; k <= 9; ++k) fs::create_directories(d_ / ("run/" + std::to_string(k)));
  }
  std::string Ini() const { return d_ / "Zupo.ini"; }
  std::string Path(const std::string& name) const { return d_ / name; }
  void Population(int g, const std::function<std::string(int)>& make, bool signal = true) const {
    for (int i = 1; i <= MaxTraders; ++i) test::WriteText(Model(HalfOfGeneration(g) + i), make(i));
    if (signal) test::WriteText(d_ / ("run/Gen" + std::to_string(g)), "");
  }
  // Model file n of the run ("run") or of the library ("lib").
  std::string Model(int n, const char* folder = "run") const {
    char name[32];
    std::snprintf(name, sizeof name, "%s/%d/T%04d.dat", folder, std::min(n / 100, 9), n);
    return d_ / name;
  }
  std::string Library(int n) const { return Model(n, "lib"); }

private:
  TempDir d_;
};

// The errors of Mape.txt, sorted.
std::vector<double> SortedMape(const KeeperFolder& f) {
  TextReader mape("Mape.txt", test::ReadText(f.Path("run/Mape.txt")));
  std::vector<double> errors;
  for (int w = 1; w <= MaxTraders; ++w) errors.push_back(Round6(mape.ReadReal()));
  std::sort(errors.begin(), errors.end());
  return errors;
}

// Generation 1 fills the library the run reads next (models 501..1000, distinct, in order of
// first appearance; 1..500 are written a generation later); the report's best and median are
// those of Mape.txt (whose bytes the seeded run with the library checks).
TEST(LibraryKeeper, FirstGenerationFillsTheLibraryTheRunReadsNext) {
  KeeperFolder f;
  f.Population(1, [](int i) { return Model(i); });
  GenerationReport r = LibraryKeeper(f.Ini()).Serve(1);
  EXPECT_EQ(r.Changed, 500);
  EXPECT_FALSE(fs::exists(f.Path("run/Gen1")) || fs::exists(f.Library(1)));
  EXPECT_EQ(test::ReadText(f.Library(501)) + test::ReadText(f.Library(1000)),
            Model(1) + Model(500));
  std::vector<double> errors = SortedMape(f);
  EXPECT_EQ(std::tuple(r.Best, r.Median), std::tuple(errors[0], errors[249]));
}

// One generation of the run as the companion meets it: each window file turns by a line, and the
// model files of the generation's half that changed are written, in place or renamed over.
void RunWrites(const KeeperFolder& f, int g, const std::vector<std::string>& models,
               const std::function<void(int i)>& meanwhile) {
  for (const char* w : {"DimA.txt", "DimB.txt", "DimC.txt"}) {
    std::string text = test::ReadText(f.Path(w));
    size_t first = text.find('\n') + 1;
    test::WriteText(f.Path(w), text.substr(first) + text.substr(0, first));
  }
  for (int i = 1; i <= MaxTraders; ++i) {
    std::string file = f.Model(HalfOfGeneration(g) + i);
    if (!fs::exists(file) || test::ReadText(file) != models[i]) {
      if (i % 2) {
        test::WriteText(file, models[i]); // in place
      } else {
        test::WriteText(file + ".new", models[i]); // a new file renamed over the old one
        fs::rename(file + ".new", file);
      }
    }
    meanwhile(i);
  }
}

// A companion that served the generations before and read ahead writes what one started afresh
// writes: a file the run changed is read again however it changed (same length, replaced,
// rewritten after it was read ahead).
TEST(LibraryKeeper, ReadsAgainWhatTheRunChangedAndWritesAsAFreshStart) {
  KeeperFolder a, b;
  for (const KeeperFolder* f : {&a, &b}) IniWrite(f->Ini(), "Traders", "G_Gap", "3");
  std::vector<std::string> models(MaxTraders + 1);
  for (int i = 1; i <= MaxTraders; ++i) models[i] = Model(i % 60);
  std::unique_ptr<LibraryKeeper> ka;
  for (int g = 1; g <= 9; ++g) {
    if (g % 3 == 1 && g > 1) // a learning generation: every seventh trader takes a new model
      for (int i = 1; i <= MaxTraders; i += 7) models[i] = Model(100 + (i + 13 * g) % 150);
    // In a learning generation model 8 is written again after a's companion read it ahead.
    std::string late = g % 3 == 1 ? Model(400 + g) : models[8];
    RunWrites(b, g, models, [](int) {});
    test::WriteText(b.Model(HalfOfGeneration(g) + 8), late);
    RunWrites(a, g, models, [&](int i) {
      if (i == 250 && ka) ka->ReadAhead(); // halfway through the run's writing
      if (i == 300) test::WriteText(a.Model(HalfOfGeneration(g) + 8), late);
    });
    models[8] = late;
    if (!ka) ka = std::make_unique<LibraryKeeper>(a.Ini());
    GenerationReport ra = ka->Serve(g);
    ka->PrepareNext();
    GenerationReport rb = LibraryKeeper(b.Ini()).Serve(g);
    ASSERT_TRUE(test::ReadText(a.Path("run/Mape.txt")) == test::ReadText(b.Path("run/Mape.txt")))
        << "Mape.txt of generation " << g;
    std::vector<double> errors = SortedMape(b); // the reports agree, and follow Mape.txt
    ASSERT_EQ(std::tuple(ra.Changed, ra.Best, ra.Median),
              std::tuple(rb.Changed, errors[0], errors[249]))
        << "generation " << g;
    for (int n = 1; n <= 2 * MaxTraders; ++n)
      if (fs::exists(b.Library(n))) {
        ASSERT_EQ(test::ReadText(a.Library(n)), test::ReadText(b.Library(n)))
            << "generation " << g << ", library model " << n;
      }
  }
  // With fewer distinct models than entries, every model the population held is kept.
  std::set<std::string> kept;
  for (int n = 1; n <= 2 * MaxTraders; ++n)
    if (fs::exists(a.Library(n))) kept.insert(test::ReadText(a.Library(n)));
  for (int i = 1; i <= MaxTraders; ++i) EXPECT_EQ(kept.count(models[i]), 1u) << i;
}

class CompanionLife : public ::testing::Test {
protected:
  void SetUp() override {
    IniWrite(f.Ini(), "Common", "Running", "1");
    std::tie(opt.IniFile, opt.RunPid, opt.PollMs) = std::tuple(f.Ini(), ::getpid(), 20);
  }
  std::string Lock() const { return f.Path("run/ZupoAp.lock"); }
  bool Logged(const std::string& text) const {
    return fs::exists(f.Path("run/ZupoAp.log")) &&
           Holds(test::ReadText(f.Path("run/ZupoAp.log")), text);
  }
  std::future<int> Start(CompanionOptions o) {
    return std::async(std::launch::async, [o] { return RunCompanion(o); });
  }

  KeeperFolder f;
  CompanionOptions opt;
};

// Serving is tested with whole runs (CompanionEndToEnd), as is the end with the run's process.
TEST_F(CompanionLife, OneCompanionPerRunThatEndsWithRunning0OrExit1) {
  auto first = Start(opt);
  ASSERT_TRUE(Within(5s, [&] { return CompanionLockHeld(Lock()); }));
  // A second companion for the same run ends at once; one for another run waits for the lock.
  EXPECT_EQ(RunCompanion(opt), 0);
  EXPECT_TRUE(Logged("already serves run " + std::to_string(::getpid())));
  CompanionOptions other = opt;
  other.RunPid = ::getppid();
  auto second = Start(other);
  EXPECT_TRUE(Within(5s, [&] { return Logged("Waiting for the lock held by companion"); }));
  EXPECT_EQ(second.wait_for(100ms), std::future_status::timeout);

  IniWrite(f.Ini(), "Common", "Running", "0");
  ASSERT_EQ(first.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(first.get(), 0);
  ASSERT_EQ(second.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(second.get(), 0);
  EXPECT_TRUE(Logged("End: Running is 0"));
  EXPECT_FALSE(CompanionLockHeld(Lock()));

  IniWrite(f.Ini(), "Common", "Running", "1");
  IniWrite(f.Ini(), "Common", "Exit", "1");
  EXPECT_EQ(RunCompanion(opt), 0);
  EXPECT_TRUE(Logged("End: Exit is 1"));
}

// A run folder made again under the same name (a new run) is not served by the companion of the
// run before, which ends without touching the new run's signal file or Exit key.
TEST_F(CompanionLife, EndsWhenItsRunFolderIsReplaced) {
  f.Population(
      1, [](int) { return "X02"; }, false); // the files of the run before
  auto companion = Start(opt);
  ASSERT_TRUE(Within(5s, [&] { return CompanionLockHeld(Lock()); }));
  fs::rename(f.Path("run"), f.Path("run.before"));
  for (int k = 0; k <= 9; ++k) fs::create_directories(f.Path("run/" + std::to_string(k)));
  f.Population(1, [](int) { return "X01"; });
  ASSERT_EQ(companion.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(companion.get(), 0);
  EXPECT_TRUE(fs::exists(f.Path("run/Gen1")));
  EXPECT_EQ(ReadIniStr("Common", "Exit", f.Ini()), "0");
  std::string log = test::ReadText(f.Path("run.before/ZupoAp.log"));
  EXPECT_TRUE(Holds(log, "End: the run folder ")) << log;
  EXPECT_FALSE(fs::exists(f.Path("run/ZupoAp.log")));
}

TEST_F(CompanionLife, StartUpErrorIsLoggedWithItsKeyAndStopsTheRun) {
  const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
      {"Traders", "Theta1", "half", "[Traders] Theta1: \"half\" is not a valid number"},
      {"Common", "DimB_File", "", "DimB_File"}};
  for (const auto& [section, key, bad, logged] : cases) {
    std::string good = ReadIniStr(section, key, f.Ini());
    IniWrite(f.Ini(), section, key, bad);
    IniWrite(f.Ini(), "Common", "Exit", "0");
    EXPECT_EQ(RunCompanion(opt), 1) << key;
    std::string log = test::ReadText(f.Path("run/ZupoAp.log")); // this start's error names its key
    EXPECT_TRUE(Holds(log.substr(log.rfind("Start failed: ")), logged)) << log;
    EXPECT_EQ(ReadIniStr("Common", "Exit", f.Ini()), "1");
    IniWrite(f.Ini(), section, key, good);
  }
}

} // namespace
} // namespace zupo
