#include "harnesses.h"

#include <cstdlib>
#include <memory>

#include "../testutil.h"
#include "core/errors.h"
#include "core/ini.h"
#include "core/textio.h"
#include "market/backup.h"
#include "market/extradata.h"
#include "market/snapshot.h"
#include "market/traders.h"
#include "model/generate.h"
#include "model/modelfile.h"
#include "model/symbols.h"
#include "run/config.h"
#include "run/runfiles.h"

namespace zupo::fuzz {

namespace {

// One scratch run folder per process, reused by every input (see test::SetUpRunFolders).
const test::TempDir& Scratch() {
  static const test::TempDir dir;
  return dir;
}

std::string Text(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

std::unique_ptr<Simulation> NewSim() {
  auto sim = std::make_unique<Simulation>();
  test::SetUpRunFolders(*sim, Scratch().Path());
  test::DefaultSymbols(*sim, {"Z01"});
  sim->IniFileName = Scratch() / "Zupo.ini";
  return sim;
}

// Runs f; a RunError is a refused input, anything else escapes and is a finding.
template <class F> void Refusable(F f) {
  try {
    f();
  } catch (const RunError&) {
  }
}

} // namespace

void Ini(const uint8_t* data, size_t size) {
  const std::string ini = Scratch() / "Zupo.ini";
  WriteFileInPlace(ini, Text(data, size));
  auto sim = NewSim();
  Refusable([&] { GetEnv(*sim, ini); });
  Refusable([&] { ReadRunKeys(*sim, ini); });
  Refusable([&] { // a write must read back
    IniWrite(ini, "Common", "Stop_No", "12");
    if (ReadIniStr("Common", "Stop_No", ini) != "12") std::abort();
  });
}

void ModelFile(const uint8_t* data, size_t size) {
  auto sim = NewSim();
  WriteFileInPlace(ModelFileName(*sim, "T", 7), Text(data, size));
  Refusable([&] { LoadModel(*sim, 7), WriteList(*sim, 8); });
  Refusable([&] {
    int nodes = 0, terms = 0;
    PTreeNode t = ReadTree(*sim, 7, nodes, terms);
    (void)TreeDepth(t.get()), (void)TreeSize(t.get()), (void)InOrderText(sim->S, t.get());
    SaveModel(*sim, t, 9);
  });
}

void Numbers(const uint8_t* data, size_t size) {
  TextReader in("input", Text(data, size));
  for (int k = 0; k < 64 && !in.Eof(); ++k) {
    Refusable([&] {
      long double v = 0;
      if (k % 5 == 0) (void)in.ReadReal();
      if (k % 5 == 1) (void)in.ReadReal6();
      if (k % 5 == 2) (void)in.ReadInt();
      if (k % 5 == 3) (void)in.TryReadReal(v), in.SkipLine();
      if (k % 5 == 4) (void)in.ReadLine();
    });
    (void)in.ReadChar();
  }
}

void Checkpoint(const uint8_t* data, size_t size) {
  auto sim = NewSim();
  std::tie(sim->R.RunGen, sim->P.ExData_File) = std::tuple(3, Scratch() / "ExtraForCheckpoint.txt");
  WriteFileInPlace(sim->P.ExData_File, "1.5\r\n2.5\r\n");
  WriteFileInPlace(Scratch() / "run/Backup1.txt", Text(data, size));
  (void)BackupGeneration(Scratch() / "run/Backup1.txt");
  Refusable([&] { RestoreBackup(*sim), (void)BackupText(*sim); }); // what was read can be written
}

void RunFiles(const uint8_t* data, size_t size) {
  auto sim = NewSim(); // one input serves every run-file reader in turn
  const std::string dir = Scratch().Path();
  sim->P.Data_File = dir + "/Data.txt";
  sim->P.DimA_File = sim->P.DimB_File = sim->P.DimC_File = dir + "/DimA.txt";
  sim->P.ExData_File = dir + "/Extra.txt";
  for (const char* f : {"/Data.txt", "/DimA.txt", "/Extra.txt", "/run/Dstar.txt", "/run/Data1.txt",
                        "/run/Data2.txt", "/run/Historyk.w"})
    WriteFileInPlace(dir + f, Text(data, size));
  Refusable([&] { ReadDataFile(*sim); });
  Refusable([&] { ReadWindowFiles(*sim); });
  Refusable([&] { OpenExtraData(*sim); });
  Refusable([&] { SeekExtraLine(*sim, 1 + static_cast<long long>(size % 7)); });
  Refusable([&] { (void)DividendCount(*sim), (void)DividendAt(*sim, 1 + int(size % 5)); });
  Refusable([&] { (void)SnapshotValue(*sim, 'k', 'w', 1 + int(size % 500)); });
  Refusable([&] { (void)LastStatisticsRow(*sim), CutBackRunFiles(*sim, 2); });
}

Harness ByName(const std::string& name) {
  if (name == "ini") return Ini;
  if (name == "modelfile") return ModelFile;
  if (name == "numbers") return Numbers;
  if (name == "checkpoint") return Checkpoint;
  if (name == "runfiles") return RunFiles;
  return nullptr;
}

} // namespace zupo::fuzz
