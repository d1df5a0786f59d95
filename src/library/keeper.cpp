#include "library/keeper.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <unistd.h>

#include "core/errors.h"
#include "core/format.h"
#include "core/paths.h"
#include "core/textio.h"
#include "learning/search.h"
#include "market/extradata.h"
#include "model/modelfile.h"
#include "run/config.h"
#include "run/runfiles.h"

namespace zupo {

int HalfOfGeneration(int g) {
  return g % 2 != 0 ? 0 : MaxTraders;
}

namespace {

// Every file is written complete under this name in its folder and then exchanged with the file
// it replaces, so that the run never reads half a file. The exchange leaves the previous text
// under the spare name, ready for the next write: no file is created or deleted per write (on
// disks mounted with discard, a deleted file costs milliseconds).
constexpr const char* SpareName = "ZupoAp.swap";

void RequireName(const std::string& ini, const char* key, const std::string& value,
                 const char* why) {
  if (value.empty()) throw RunError(ini + " [Common] " + key + ": the key is empty, but " + why);
}

} // namespace

LibraryKeeper::LibraryKeeper(const std::string& iniFile) : sim_(std::make_unique<Simulation>()) {
  Simulation& sim = *sim_;
  sim.IniFileName = iniFile;
  GetEnv(sim, iniFile);
  ReadRunKeys(sim, iniFile);
  RequireName(iniFile, "Tree_Path1", sim.P.Tree_Path1, "the run folder is needed");
  if (!DirExists(sim.P.Tree_Path1))
    throw RunError(sim.P.Tree_Path1 + ": the run folder (Tree_Path1) does not exist");
  RequireName(iniFile, "Tree_Path2", sim.P.Tree_Path2, "the library is kept there");
  const char* windows = "the library judges its models on the window files";
  RequireName(iniFile, "DimA_File", sim.P.DimA_File, windows);
  RequireName(iniFile, "DimB_File", sim.P.DimB_File, windows);
  RequireName(iniFile, "DimC_File", sim.P.DimC_File, windows);
  if (sim.S.NExtra > 0)
    RequireName(iniFile, "ExData_File", sim.P.ExData_File,
                "the models read extra variables (Extra_Var)");
  for (char d = '0'; d <= '9'; ++d) EnsureDir(sim.P.Tree_Path2 + d);
}

std::string LibraryKeeper::SignalFile(int g) const {
  return RunFile(*sim_, "Gen" + FormatInt(g));
}

void LibraryKeeper::LoadEntries(int half) {
  for (int w = 1; w <= MaxTraders; ++w) {
    int n = half + w;
    std::string name = ModelFileName(*sim_, "T", n, true);
    entries_[w] = {};
    known_[n] = false;
    if (!FileExists(name)) continue;
    entries_[w].Text = ReadWholeFile(name);
    onDisk_[n] = entries_[w].Text;
    known_[n] = true;
  }
}

std::optional<ModelJudgement> LibraryKeeper::Judge(const std::string& text) {
  Simulation& sim = *sim_;
  auto it = readings_.find(text);
  if (it == readings_.end()) {
    Reading r;
    try {
      r.Items = ParseModelText(sim.S, "library model", text);
    } catch (const RunError&) {
      return std::nullopt; // not a readable model: it stays out of the library
    }
    r.Key = InOrderKey(sim.S, r.Items);
    it = readings_.emplace(text, std::move(r)).first;
  }
  it->second.LastGen = gen_;
  sim.ModelList = it->second.Items;
  double mape = LibraryMape(MapeScore(sim, 0));
  DisposeList(sim);
  return ModelJudgement{it->second.Key, mape};
}

void LibraryKeeper::WriteHalf(int half) {
  for (int w = 1; w <= MaxTraders; ++w) {
    int n = half + w;
    const std::string& text = entries_[w].Text;
    if (known_[n] && onDisk_[n] == text) continue;
    known_[n] = false;
    std::string name = ModelFileName(*sim_, "T", n, true);
    WriteFileBySwap(name, FolderOf(name) + SpareName, text);
    onDisk_[n] = text;
    known_[n] = true;
  }
}

std::string MapeFileText(const LibraryEntries& entries) {
  std::string out;
  out.reserve(MaxTraders * 24);
  for (int w = 1; w <= MaxTraders; ++w) {
    std::string v = FormatSci23(entries[w].Mape);
    out.append(v, v.find_first_not_of(' '));
    EndLine(out);
  }
  return out;
}

void LibraryKeeper::WriteMapeFile() {
  WriteFileBySwap(RunFile(*sim_, "Mape.txt"), RunFile(*sim_, SpareName), MapeFileText(entries_));
}

GenerationReport LibraryKeeper::Serve(int g) {
  auto start = std::chrono::steady_clock::now();
  Simulation& sim = *sim_;
  gen_ = g;
  ReadWindowFiles(sim);
  // The run reads extra-data line 1 at its fresh start and one more line at the top of every
  // loop generation: generation g's signal file comes with line g + 1.
  if (sim.S.NExtra > 0) SeekExtraLine(sim, static_cast<long long>(g) + 1);
  if (g <= 1)
    entries_ = {}; // a new run: the library starts from its first population
  else if (servedGen_ != g - 1)
    LoadEntries(HalfOfGeneration(g));

  int base = HalfOfGeneration(g);
  std::vector<std::string> population(MaxTraders);
  for (int i = 1; i <= MaxTraders; ++i)
    population[i - 1] = ReadWholeFile(ModelFileName(sim, "T", base + i));

  GenerationReport rep;
  rep.Gen = g;
  rep.Changed =
      RefreshLibrary(entries_, population, [this](const std::string& text) { return Judge(text); });
  if (entries_[1].Text.empty())
    throw RunError(ModelFileName(sim, "T", base + 1) + ": no model of generation " + FormatInt(g) +
                   " could be read");
  WriteHalf(HalfOfGeneration(g + 1));
  WriteMapeFile();
  servedGen_ = g;

  std::string signal = SignalFile(g);
  if (::unlink(signal.c_str()) != 0 && errno != ENOENT)
    throw RunError(signal + ": cannot remove the signal file: " + std::strerror(errno));

  // Readings not used for two generations are dropped, which bounds the memory.
  if (readings_.size() > 4 * static_cast<size_t>(MaxTraders))
    std::erase_if(readings_, [g](const auto& kv) { return kv.second.LastGen < g - 1; });

  std::array<double, MaxTraders> errors;
  for (int w = 1; w <= MaxTraders; ++w) errors[w - 1] = entries_[w].Mape;
  std::sort(errors.begin(), errors.end());
  rep.Best = errors[0];
  rep.Median = errors[MaxTraders / 2 - 1];
  rep.Millis =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return rep;
}

} // namespace zupo
