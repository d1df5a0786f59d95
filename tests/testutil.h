#pragma once
// Shared helpers of the tests: a temporary run folder and a Simulation set up in it.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/real6.h"
#include "core/state.h"
#include "core/textio.h"
#include "model/symbols.h"

namespace zupo::test {

// A fresh temporary folder, removed when the object goes.
class TempDir {
public:
  TempDir() : path_((std::filesystem::temp_directory_path() / "zupo-test-XXXXXX").string()) {
    if (!::mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed");
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

inline void WriteText(const std::string& path, const std::string& text) {
  WriteFileInPlace(path, text);
}
inline std::string ReadText(const std::string& path) {
  return ReadWholeFile(path);
}

// The run folder dir/run and the model folders dir/run0..run9 and dir/lib0..lib9, all created.
inline void SetUpRunFolders(Simulation& sim, const std::string& dir) {
  sim.P.Tree_Path1 = dir + "/run";
  sim.P.Tree_Path2 = dir + "/lib";
  std::filesystem::create_directories(sim.P.Tree_Path1);
  for (int d = 0; d <= 9; ++d) {
    std::filesystem::create_directories(sim.P.Tree_Path1 + std::to_string(d));
    std::filesystem::create_directories(sim.P.Tree_Path2 + std::to_string(d));
  }
}

// + - * %, SIN COS EXP LOG ABS SQRT, X01..X03, Y01..Y02, the extras given, constant R.
inline void DefaultSymbols(Simulation& sim, const std::vector<std::string>& extras = {}) {
  BuildSymbolSet(sim.S, {"+", "-", "*", "%"}, {"SIN", "COS", "EXP", "LOG", "ABS", "SQRT"},
                 {"X01", "X02", "X03"}, {"Y01", "Y02"}, extras, "R");
}

// A simulation in fresh run folders, with the default symbols.
struct RunFolder {
  TempDir dir;
  Simulation sim;
  RunFolder() { SetUpRunFolders(sim, dir.Path()), DefaultSymbols(sim); }
};

// Whether f raises a RunError whose message holds both texts.
template <class F> bool FailsNaming(F f, const std::string& a, const std::string& b = "") try {
  f();
  return false;
} catch (const RunError& e) {
  const std::string m = e.what();
  return m.find(a) != m.npos && m.find(b) != m.npos;
}

// Windows of a run at generation 10: P(t) = 80 + (7t mod 11) - 5, P+D = P + 10 + 0.5 (t mod 3),
// DimA[t] = DimC[t + 1]; interest 5 %, Lambda = Theta1 = MaxExp = 0.5, Theta2 0.1, Theta3 0.01.
inline void SetUpWindows(Simulation& sim) {
  for (int t = DimLen; t >= 1; --t) {
    sim.R.DimB[t] = 80 + (t * 7) % 11 - 5;
    sim.R.DimC[t] = sim.R.DimB[t] + 10 + (t % 3) * 0.5;
    sim.R.DimA[t] = t == DimLen ? 91 : sim.R.DimC[t + 1];
  }
  sim.R.RunGen = 10;
  sim.P.Irate = Round6(0.05L);
  sim.P.Lambda = sim.P.Theta1 = sim.P.MaxExp = 0.5;
  sim.P.Theta2 = Round6(0.1L);
  sim.P.Theta3 = Round6(0.01L);
}

} // namespace zupo::test
