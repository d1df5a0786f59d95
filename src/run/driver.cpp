#include "run/driver.h"

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <sys/resource.h>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/format.h"
#include "core/ini.h"
#include "core/paths.h"
#include "core/real6.h"
#include "learning/search.h"
#include "market/backup.h"
#include "market/extradata.h"
#include "market/population.h"
#include "market/snapshot.h"
#include "market/statistics.h"
#include "market/traders.h"
#include "model/modelfile.h"
#include "model/report.h"
#include "run/companion.h"
#include "run/config.h"
#include "run/runfiles.h"
#include "run/runlock.h"

namespace zupo {

void SwapOrder(Simulation& sim, int a, int b) {
  std::swap(sim.T.OrderIdx[a], sim.T.OrderIdx[b]);
}

void OrderTraders(Simulation& sim, int Lo, int Hi) {
  auto& T = sim.T;
  auto key = [&](int p) { return T.GapProfit[T.OrderIdx[T.CurBase + p]]; };
  while (Lo < Hi) {
    long double pivot = key(Lo);
    int i = Lo, j = Hi + 1;
    do {
      do ++i;
      while (!(key(i) <= pivot || i == Hi));
      do --j;
      while (!(key(j) >= pivot));
      if (j > i) SwapOrder(sim, T.CurBase + i, T.CurBase + j);
    } while (j > i);
    SwapOrder(sim, T.CurBase + Lo, T.CurBase + j);
    // Recurse into the smaller part and loop over the larger, keeping the stack shallow; the
    // order of the swaps within each part is unchanged.
    if (j - Lo < Hi - j) {
      OrderTraders(sim, Lo, j - 1);
      Lo = j + 1;
    } else {
      OrderTraders(sim, j + 1, Hi);
      Hi = j - 1;
    }
  }
}

namespace {

// Charges the time since the previous lap to a phase. Does nothing without a PhaseTimes.
class PhaseLaps {
public:
  explicit PhaseLaps(PhaseTimes* times) : times_(times) {}
  void Start() {
    if (!times_) return;
    last_ = std::chrono::steady_clock::now();
    lastCpu_ = ThreadCpu();
  }
  void Lap(Phase p) {
    if (!times_) return;
    auto now = std::chrono::steady_clock::now();
    double cpu = ThreadCpu();
    times_->Seconds[static_cast<size_t>(p)] += std::chrono::duration<double>(now - last_).count();
    times_->CpuSeconds[static_cast<size_t>(p)] += cpu - lastCpu_;
    last_ = now;
    lastCpu_ = cpu;
  }
  PhaseTimes* Times() const { return times_; }

private:
  static double ThreadCpu() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
  PhaseTimes* times_;
  std::chrono::steady_clock::time_point last_{};
  double lastCpu_ = 0;
};

// The population's 1,000 model files stay open between writes when the process may hold that
// many files: the soft limit is raised towards the hard one if needed.
bool AllowManyOpenFiles() {
  constexpr rlim_t Wanted = 2 * MaxTraders + 1024;
  rlimit lim{};
  if (::getrlimit(RLIMIT_NOFILE, &lim) != 0) return false;
  if (lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur < Wanted) {
    if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max < Wanted) return false;
    lim.rlim_cur = Wanted;
    if (::setrlimit(RLIMIT_NOFILE, &lim) != 0) return false;
  }
  return true;
}

// Ctrl-C, SIGTERM or the Exit button during the start-up: the run stops before it begins.
struct StoppedInStartUp {};

// Thrown by a wait for the companion that the writer thread made: the run stopped in generation
// Gen, before its data and window files, and the writer made none of the writes after it.
struct StoppedAtCompanion : std::exception {
  StoppedAtCompanion(int32_t gen, double price, bool pressed)
      : Gen(gen), Price(price), Pressed(pressed) {}
  const char* what() const noexcept override { return "stopped while the companion was awaited"; }
  int32_t Gen;
  double Price; // NewPrice at the wait
  bool Pressed; // by the Exit button or Ctrl-C, not by the Exit key
};

class Driver {
public:
  Driver(Simulation& sim, Host& host, Clock& clock, std::string iniFile, std::string appDir,
         PhaseTimes* times)
      : sim_(sim), host_(host), clock_(clock), ini_(std::move(iniFile)), appDir_(std::move(appDir)),
        laps_(times) {
    companion_.AppDir = appDir_;
    companion_.IniFile = ini_;
  }

  RunResult Run();
  double CompanionWait() const { return companionWait_; }

private:
  void StartUp();
  void CheckInputs();
  void StopIfRequested();
  void FreshStart();
  void Resume();
  int RestoreCheckpoint(int stopNo, int lastRow, std::string& fellBackWhy);
  bool NoCheckpointOfGenerationOne();
  bool LoopGeneration(); // false when the generation ended through the error path
  void GenerationBody();
  void ModelStep(int m);
  void ShiftLags();
  void SlideWindows();
  void StopCheck();
  void EndRun();
  void ErrorPath(const std::string& msg);
  void Msg(const std::string& text);
  bool DeferCompanionWait() const;
  void QueueCompanionWait();
  void StopAtCompanion(const StoppedAtCompanion& s);
  void WhileWaiting(std::chrono::steady_clock::duration waited); // the run's thread
  void ShowWarnings();
  void StartTheCompanion();
  void RequireLibraryFiles(int g) const;
  // A key of [Common], written in its place among the run's writes.
  void Key(const char* key, const char* value) {
    const std::string* ini = &ini_;
    sim_.Files.Run({}, [ini, key, value](std::string&) { IniWrite(*ini, "Common", key, value); });
  }
  // Waits for the writer thread to finish (and ends it); its error, if any, is thrown.
  void StopWriter() { sim_.Files.StopWriter(); }
  void CloseKeptFiles();

  Simulation& sim_;
  Host& host_;
  RunLock lock_;
  Clock& clock_;
  std::string ini_;
  std::string appDir_;
  std::string signalFile_;
  uint64_t signalTicket_ = 0; // the writer's ticket of the signal file's write
  // Used by the writer thread inside a wait for the companion, by the run's thread otherwise;
  // the two never wait at once (the run waits itself only after the writer's waits are done).
  CompanionLink companion_;
  // Set by the run's thread when a stop has been pressed and the run has waited for the writer
  // for a while: the writer's wait for the companion gives up.
  std::atomic<bool> stopWaits_{false};
  std::mutex warningsLock_;
  std::vector<std::string> warnings_; // from the writer thread, for the window
  MapeValues writerMape_{};           // Mape.txt as read by the writer thread
  bool resumed_ = false;
  // Set at a fresh start until the first checkpoint is written: a checkpoint of the same
  // generation found then was left by an earlier run in this folder and must be replaced.
  bool freshCheckpoint_ = false;
  // True while PriceLag/PDLag already hold the latest NewPrice: from the move at the top of a
  // generation until its clearing. A stop checkpoint written after the clearing moves them first,
  // so that every checkpoint holds the lags moved, as the resumed run expects.
  bool lagsMoved_ = false;
  bool stoppedAtWait_ = false; // the run ended through StopAtCompanion
  double companionWait_ = 0;   // seconds in the run's own waits for the companion
  RunResult result_;
  PhaseLaps laps_;
};

void Driver::Msg(const std::string& text) {
  int32_t n = sim_.R.MsgCount;
  host_.Output_msg(n, FormatInt(n) + ": " + text);
  sim_.R.MsgCount = n + 1;
  host_.ProcessMessages();
}

void Driver::StopIfRequested() {
  if (host_.ExitPressed()) throw StoppedInStartUp{};
}

void Driver::StartUp() {
  sim_.IniFileName = ini_;
  // Before anything is written: a second program on this folder stops here.
  lock_ = RunLock::Acquire(FolderOf(ini_));
  Key("Running", "1");
  Key("Exit", "0");
  sim_.R.ExitRequested = false;
  sim_.R.ExitPressed = false;
  sim_.TheClock = &clock_;
  sim_.Rand.Seed = clock_.SeedReading();
  sim_.Warn = [this](const std::string& m) { host_.Warn(m); };
  sim_.Pump = [this] { host_.ProcessMessages(); };
  GetEnv(sim_, ini_);
  StopIfRequested();
  ReadRunKeys(sim_, ini_);
  if (sim_.P.Tree_Path1.empty())
    throw RunError(ini_ + " [Common] Tree_Path1: the run folder is not set");
  if (!DirExists(sim_.P.Tree_Path1))
    throw RunError(sim_.P.Tree_Path1 + ": the run folder (Tree_Path1) does not exist");
  CheckInputs();
  StopIfRequested();
  CreateModelFolders(sim_);
  sim_.Models.KeepOpen = AllowManyOpenFiles();
  sim_.R.Gen_No = sim_.P.Gen_No;
  sim_.R.RunGen = sim_.P.Stop_No;
  sim_.R.StartGen = sim_.P.Stop_No;
  // The free space is measured once before the first stop check.
  sim_.R.FreeDiskMB = Round6(host_.FreeDiskMB());
}

// What every start needs, checked before any result file is touched.
void Driver::CheckInputs() {
  if (sim_.S.NExtra > 0 && ReadIniStr("Common", "ExData_File", ini_).empty())
    throw RunError(ini_ + " [Common] ExData_File: the key is empty, but Extra_Var names " +
                   FormatInt(sim_.S.NExtra) + " extra variables");
  if (!FileExists(sim_.P.Data_File))
    throw RunError(sim_.P.Data_File + ": the data file (Data_File) does not exist");
  int dividends = DividendCount(sim_);
  const std::string dstar = RunFile(sim_, "Dstar.txt");
  if (dividends == 0)
    host_.Warn(dstar + ": the file holds no dividend; every dividend is 0");
  else if (dividends < sim_.P.Gen_No)
    host_.Warn(dstar + ": the file holds " + FormatInt(dividends) +
               " dividends, fewer than Gen_No (" + FormatInt(sim_.P.Gen_No) +
               "); later generations repeat the last one");
}

void Driver::FreshStart() {
  signalFile_ = RunFile(sim_, "Gen0");
  resumed_ = false;
  freshCheckpoint_ = true;
  // Every input is read before Data1.txt and Data2.txt are emptied: a bad input leaves the
  // results of an earlier run as they were.
  if (sim_.S.NExtra > 0) OpenExtraData(sim_);
  ReadDataFile(sim_);
  if (sim_.P.Do_Dim == 0) ReadWindowFiles(sim_);
  StopIfRequested();
  sim_.Data1File.Create(RunFile(sim_, "Data1.txt"));
  sim_.Data2File.Create(RunFile(sim_, "Data2.txt"));
  sim_.Data1File.Write(Data1Header());
  sim_.Data1File.Flush();
  StartTheCompanion();
  sim_.R.RunGen = 1;
  sim_.T.PrevBase = 500;
  sim_.T.CurBase = 0;
  host_.ReplaceFirstLogLine("Processing Generation        1 ");
  sim_.R.MsgCount = 1;
  host_.ProcessMessages();
  InitTraders(sim_);
  UpdateWealth(sim_);
  InitPopulation(sim_, 0);
  ClearMarket(sim_);
  Msg("P(t+1) =  " + FormatGeneral(sim_.M.NewPrice));
  host_.ShowGraph(sim_.R.RunGen, sim_.M.NewPrice);
  host_.ProcessMessages();
  for (int p = 1; p <= MaxTraders; ++p) sim_.T.OrderIdx[sim_.T.CurBase + p] = p;
  OrderTraders(sim_, 1, MaxTraders);
  BestModelReport(sim_);
  WriteStatistics(sim_);
  lagsMoved_ = false;
}

// Stop_No 1 without a checkpoint of generation 1: a run killed in its second generation between
// writing Stop_No and its first checkpoint. Nothing beyond generation 1 was recorded, so the
// run starts again rather than refusing to start for good.
bool Driver::NoCheckpointOfGenerationOne() {
  if (BackupGeneration(RunFile(sim_, "Backup1.txt")) == 1) return false;
  const std::string data1 = RunFile(sim_, "Data1.txt");
  return !FileExists(data1) || LastStatisticsRow(sim_) <= 1;
}

// Restores the checkpoint that fits the run: Backup1.txt, or Backup11.txt (one generation older)
// when Backup1.txt cannot be read. A checkpoint that contradicts the run is refused. Returns its
// generation; fellBackWhy says why Backup1.txt was passed over ("" when it was used).
int Driver::RestoreCheckpoint(int stopNo, int lastRow, std::string& fellBackWhy) {
  const std::string b1 = RunFile(sim_, "Backup1.txt");
  const std::string b11 = RunFile(sim_, "Backup11.txt");
  // Stop_No is written just before the checkpoint file, so a kill between the two leaves the
  // checkpoint one generation behind Stop_No; any other difference belongs to another run.
  auto contradiction = [&](const std::string& path, int g, int lo) -> std::string {
    if (g < lo || g > lo + 1)
      return path + " holds generation " + FormatInt(g) + ", but Stop_No is " + FormatInt(stopNo) +
             " (expected generation " + FormatInt(lo) + " or " + FormatInt(lo + 1) + ")";
    if (g > lastRow)
      return path + " holds generation " + FormatInt(g) +
             ", later than the last row of Data1.txt (" + FormatInt(lastRow) + ")";
    return {};
  };
  auto restore = [&](const std::string& path, int g) {
    sim_.R.RunGen = g;
    RestoreBackup(sim_, path);
  };
  std::string damage;
  int g = BackupGeneration(b1);
  if (g >= 1) {
    std::string bad = contradiction(b1, g, stopNo - 1);
    if (!bad.empty()) throw RunError(bad + "; the run is not resumed");
    try {
      restore(b1, g);
      fellBackWhy.clear();
      return g;
    } catch (const RunError& e) {
      damage = e.what();
    }
  } else {
    damage = b1 + (FileExists(b1) ? ": the first line is not a checkpoint's" : ": missing");
  }
  int g11 = BackupGeneration(b11);
  if (g11 < 1) throw RunError(damage + "; no checkpoint to resume from");
  std::string bad = contradiction(b11, g11, stopNo - 2);
  if (!bad.empty()) throw RunError(damage + "; " + bad + "; the run is not resumed");
  try {
    restore(b11, g11);
  } catch (const RunError& e) {
    throw RunError(damage + "; " + e.what());
  }
  fellBackWhy = damage;
  return g11;
}

void Driver::Resume() {
  const int stopNo = sim_.R.RunGen;
  const int lastRow = LastStatisticsRow(sim_);
  std::string fellBackWhy;
  const int g = RestoreCheckpoint(stopNo, lastRow, fellBackWhy);
  RequireLibraryFiles(g);
  StopIfRequested();
  // From here on the run files are changed.
  const std::string b1 = RunFile(sim_, "Backup1.txt");
  if (!fellBackWhy.empty()) {
    // Backup1.txt becomes the checkpoint resumed from, so that the next one rotates a whole file.
    WriteFileAtomic(b1, ReadWholeFile(RunFile(sim_, "Backup11.txt")));
    host_.ReplaceFirstLogLine("Resuming from generation " + FormatInt(g) +
                              " of Backup11.txt, the checkpoint before: " + fellBackWhy);
  } else if (g != stopNo) {
    host_.ReplaceFirstLogLine("Resuming from generation " + FormatInt(g) + " of " + b1 +
                              " (Stop_No was " + FormatInt(stopNo) + ")");
  }
  sim_.R.RunGen = g;
  sim_.R.StartGen = g;
  signalFile_ = RunFile(sim_, "Gen" + FormatInt(sim_.R.RunGen - 1));
  // Rows and dump blocks written after the checkpoint are computed again by this run.
  CutBackRunFiles(sim_, sim_.R.RunGen);
  sim_.Data1File.OpenAppend(RunFile(sim_, "Data1.txt"));
  sim_.Data2File.OpenAppend(RunFile(sim_, "Data2.txt"));
  sim_.R.MsgCount = 1;
  StartTheCompanion();
  resumed_ = true;
  lagsMoved_ = true;
  host_.ProcessMessages();
}

// A library run resumed in generation g > 1 first reads Mape.txt, which the companion writes when
// it serves a signal file. Without either (a run started with LibraryProb 0, or Mape.txt removed)
// the run would wait for ever; it is refused before any file is changed.
void Driver::RequireLibraryFiles(int g) const {
  if (sim_.P.LibraryProb == 0 || g <= 1) return;
  const std::string mape = RunFile(sim_, "Mape.txt");
  const std::string signal = RunFile(sim_, "Gen" + FormatInt(g - 1));
  if (FileExists(mape) || FileExists(signal)) return;
  throw RunError(mape + " is missing, and no signal file (" + signal +
                 ") asks the companion for one: the run cannot resume with LibraryProb " +
                 FormatGeneral(sim_.P.LibraryProb) +
                 " (was it started with LibraryProb 0?). Resume it with LibraryProb 0, or start "
                 "it afresh with Stop_No 0.");
}

void Driver::StartTheCompanion() {
  if (sim_.P.LibraryProb == 0) return;
  std::string why = LaunchCompanion(sim_, companion_, signalFile_);
  if (!why.empty()) host_.Warn(CompanionNotStarted(why));
}

void Driver::ShiftLags() {
  auto& M = sim_.M;
  for (int k = sim_.S.NXVar; k >= 2; --k) M.PriceLag[k] = M.PriceLag[k - 1];
  for (int k = sim_.S.NYVar; k >= 2; --k) M.PDLag[k] = M.PDLag[k - 1];
  M.PriceLag[1] = M.NewPrice;
  M.PDLag[1] = Checked(M.NewPrice + M.Dividend);
  lagsMoved_ = true;
}

void Driver::SlideWindows() {
  auto& R = sim_.R;
  double a = Round6(sim_.M.NewPrice + sim_.M.Dividend);
  double b = Round6(sim_.M.PriceLag[1]);
  double c = Round6(sim_.M.PDLag[1]);
  int pos = DimLen;
  if (R.RunGen <= DimLen && sim_.P.Do_Dim != 0) {
    pos = R.RunGen;
  } else {
    for (int k = 1; k < DimLen; ++k) {
      R.DimA[k] = R.DimA[k + 1];
      R.DimB[k] = R.DimB[k + 1];
      R.DimC[k] = R.DimC[k + 1];
    }
  }
  R.DimA[pos] = a;
  R.DimB[pos] = b;
  R.DimC[pos] = c;
}

void Driver::ModelStep(int m) {
  auto& R = sim_.R;
  auto& T = sim_.T;
  bool learning = m == 1 || sim_.P.G_Gap == 1;
  R.SucceedNo = R.MartingaleNo = R.VisitGenNo = R.VisitLibNo = 0;
  for (int i = 1; i <= MaxTraders; ++i) {
    T.IsMartingale = 0;
    if (learning) {
      T.SucceedFlag = T.VisitGenFlag = T.VisitLibFlag = 0;
      SchoolDecision(sim_, i);
      R.SucceedNo += T.SucceedFlag;
      R.VisitGenNo += T.VisitGenFlag;
      R.VisitLibNo += T.VisitLibFlag;
    } else {
      KeepModel(sim_, i);
    }
    R.MartingaleNo += T.IsMartingale;
  }
  if (learning) RollGapProfit(sim_);
}

void Driver::StopCheck() {
  sim_.R.FreeDiskMB = Round6(host_.FreeDiskMB());
  if (host_.ExitPressed()) sim_.R.ExitPressed = true;
  if (sim_.R.FreeDiskMB < 100.0 || sim_.R.ExitPressed) {
    sim_.R.ExitRequested = true;
    result_.Message = sim_.R.ExitPressed ? "stopped on request"
                                         : "less than 100 MB is free on the run's disk (" +
                                               FormatGeneral(sim_.R.FreeDiskMB) + " MB)";
    Key("Exit", "1");
    Key("No_Memory", "1");
  }
}

// Steps 5 to 19 of a loop generation.
void Driver::GenerationBody() {
  auto& R = sim_.R;
  SlideWindows();
  if (sim_.P.LibraryProb != 0 && DeferCompanionWait()) {
    QueueCompanionWait();
  } else if (sim_.P.LibraryProb != 0) {
    // A stop while the companion is awaited (Exit key, Exit button, Ctrl-C) ends the
    // generation here, before the raise; the end of the run writes the checkpoint.
    // The companion reacts to the signal file: it and everything before it must be on disk.
    sim_.Files.WaitFor(signalTicket_);
    ShowWarnings();
    auto waitStart = std::chrono::steady_clock::now();
    WaitForCompanion(sim_, host_, signalFile_, &companion_);
    if (!R.ExitRequested && R.RunGen > 1 && !ReadMape(sim_, host_)) R.ExitRequested = true;
    companionWait_ +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - waitStart).count();
    if (R.ExitRequested) {
      if (host_.ExitPressed()) {
        R.ExitPressed = true;
        Key("Exit", "1");
        Key("No_Memory", "1");
        result_.Message = "stopped on request";
      } else {
        result_.Message = "the Exit key of " + ini_ + " was set to 1";
      }
      return;
    }
  }
  WriteDataFile(sim_);
  WriteWindowFiles(sim_);
  if (sim_.P.LibraryProb != 0) {
    signalFile_ = RunFile(sim_, "Gen" + FormatInt(R.RunGen));
    sim_.Files.InPlace(signalFile_, "");
    // Handed to the writer now, so that the companion works while this generation is computed.
    signalTicket_ = sim_.Files.Commit();
  }
  R.RunGen += 1;
  Msg("Processing Generation     " + FormatInt(R.RunGen));
  laps_.Lap(Phase::OtherFiles);
  UpdateWealth(sim_);
  SwapHalves(sim_);
  if (sim_.P.G_Gap == 0) throw FloatError("Division by zero (G_Gap is 0)");
  int m = R.RunGen % sim_.P.G_Gap;
  laps_.Lap(Phase::Forecasts);
  if (m == 1 || sim_.P.G_Gap == 1)
    WriteSnapshotSet(sim_, 'k');
  else if (m == 2 || (sim_.P.G_Gap == 2 && m == 0))
    WriteSnapshotSet(sim_, '1');
  laps_.Lap(Phase::OtherFiles);
  const bool learning = m == 1 || sim_.P.G_Gap == 1;
  ModelStep(m);
  laps_.Lap(learning ? Phase::Learning : Phase::Forecasts);
  if (learning && laps_.Times()) ++laps_.Times()->LearningGenerations;
  ClearMarket(sim_);
  lagsMoved_ = false;
  Msg("P(t+1) =  " + FormatGeneral(sim_.M.NewPrice));
  host_.ShowGraph(R.RunGen, sim_.M.NewPrice);
  host_.ProcessMessages();
  for (int p = 1; p <= MaxTraders; ++p) sim_.T.OrderIdx[sim_.T.CurBase + p] = p;
  OrderTraders(sim_, 1, MaxTraders);
  laps_.Lap(Phase::Forecasts);
  WriteStatistics(sim_);
  BestModelReport(sim_);
  laps_.Lap(Phase::Statistics);
  StopCheck();
  laps_.Lap(Phase::OtherFiles);
}

// The run needs the companion's answer only in a learning generation, which reads Mape.txt and
// the library. Before the other generations the writer thread waits for it, in its place among
// the writes: the data and window files, the next signal file and everything after them are
// written once the companion has served, as a direct run writes them, while the run computes on.
bool Driver::DeferCompanionWait() const {
  if (!sim_.Files.HasWriter() || sim_.P.G_Gap <= 1) return false;
  return (sim_.R.RunGen + 1) % sim_.P.G_Gap != 1;
}

void Driver::QueueCompanionWait() {
  const std::string signal = signalFile_;
  const int32_t gen = sim_.R.RunGen;
  const double price = static_cast<double>(sim_.M.NewPrice);
  sim_.Files.Run({}, [this, signal, gen, price](std::string&) {
    WaitHooks hooks{[this] { return stopWaits_.load(); },
                    {},
                    [this](const std::string& msg) {
                      std::lock_guard lock(warningsLock_);
                      warnings_.push_back(msg);
                    }};
    WaitEnd end = AwaitCompanion(sim_, hooks, signal, &companion_);
    // Mape.txt is checked as a direct run reads it, though only a learning generation uses it.
    if (end == WaitEnd::Served && gen > 1) end = ReadMapeFile(sim_, hooks, writerMape_);
    if (end != WaitEnd::Served) throw StoppedAtCompanion(gen, price, end == WaitEnd::StopPressed);
  });
}

void Driver::ShowWarnings() {
  std::vector<std::string> shown;
  {
    std::lock_guard lock(warningsLock_);
    shown.swap(warnings_);
  }
  for (const std::string& w : shown) host_.Warn(w);
}

void Driver::WhileWaiting(std::chrono::steady_clock::duration waited) {
  host_.ProcessMessages();
  ShowWarnings();
  // A stop pressed while the run waits: a wait of the writer for the companion is given up once
  // the run has waited half a second, so that a companion that answers still lets the writes of
  // the generations computed so far be made.
  if (host_.ExitPressed() && waited >= std::chrono::milliseconds(500)) stopWaits_ = true;
}

// The writer stopped at the wait for the companion in generation s.Gen: the files are those of a
// run that stopped there, and the checkpoint of that generation, written before the wait, is
// Backup1.txt. What the run computed after it is dropped; the end is that of such a stop.
void Driver::StopAtCompanion(const StoppedAtCompanion& s) {
  try {
    StopWriter();
  } catch (const std::exception&) {
    // The writer made no write after the wait, so nothing else can have failed.
  }
  sim_.R.ExitRequested = true;
  result_.End = RunEnd::Stopped;
  result_.LastGen = s.Gen;
  result_.LastPrice = s.Price;
  stoppedAtWait_ = true;
  if (s.Pressed) {
    sim_.R.ExitPressed = true;
    Key("Exit", "1");
    Key("No_Memory", "1");
    result_.Message = "stopped on request";
  } else {
    result_.Message = "the Exit key of " + ini_ + " was set to 1";
  }
  Msg("Stopped in generation " + FormatInt(s.Gen) +
      " while the companion was awaited; the run resumes there");
  DisposeList(sim_);
  sim_.Data1File.Close();
  sim_.Data2File.Close();
  CloseKeptFiles();
  Key("Running", "0");
}

bool Driver::LoopGeneration() {
  laps_.Start();
  try {
    // Reseed from the time of day.
    int32_t r = sim_.Rand.Random(10000);
    int32_t c = sim_.Rand.Random(2);
    int32_t t = clock_.TimeOfDay();
    sim_.Rand.Seed = static_cast<uint32_t>(c == 1 ? t - r : t + r);
    if (!resumed_) {
      ShiftLags();
      if (sim_.S.NExtra > 0) ReadExtraLine(sim_);
    }
    resumed_ = false;
    laps_.Lap(Phase::OtherFiles);
    SaveBackup(sim_, !freshCheckpoint_);
    freshCheckpoint_ = false;
    laps_.Lap(Phase::Checkpoint);
    GenerationBody();
    // The generation's writes go to the writer thread, which makes them while the next
    // generation is computed.
    sim_.Files.Commit();
    if (sim_.P.LibraryProb != 0) ShowWarnings();
    if (laps_.Times()) ++laps_.Times()->Generations;
  } catch (const StoppedAtCompanion& s) {
    StopAtCompanion(s);
    return false;
  } catch (const std::exception& e) {
    ErrorPath(e.what());
    return false;
  }
  return true;
}

void Driver::ErrorPath(const std::string& msg) {
  sim_.R.ExitRequested = true;
  result_.End = RunEnd::Failed;
  result_.Message = msg;
  // The writes of the generations before are made first. A write that failed there came
  // before this error in a direct run, so its message is the one reported; a stop at a wait
  // for the companion came before it too, and the run ends as that stop.
  try {
    StopWriter();
  } catch (const StoppedAtCompanion& s) {
    return StopAtCompanion(s);
  } catch (const std::exception& e) {
    result_.Message = e.what();
  }
  try {
    Key("Running", "0");
    Key("Exit", "1");
  } catch (const std::exception& e) {
    result_.Message += "; " + std::string(e.what());
  }
  DisposeList(sim_);
  try {
    sim_.Data1File.Close();
  } catch (const std::exception&) {
  }
  try {
    sim_.Data2File.Close();
  } catch (const std::exception&) {
  }
  try {
    CloseKeptFiles();
  } catch (const std::exception&) {
  }
}

// The data, window and model files the run kept open; the first failure is thrown after all are
// closed.
void Driver::CloseKeptFiles() {
  std::string failure;
  for (RewrittenFile* f : {&sim_.DataOut, &sim_.DimAOut, &sim_.DimBOut, &sim_.DimCOut}) {
    try {
      f->Close();
    } catch (const std::exception& e) {
      if (failure.empty()) failure = e.what();
    }
  }
  CloseModelFiles(sim_);
  if (!failure.empty()) throw RunError(failure);
}

void Driver::EndRun() {
  DisposeList(sim_);
  if (!sim_.R.ExitRequested) {
    if (sim_.P.LibraryProb != 0) AwaitLastService(sim_, host_, signalFile_);
    WriteDataFile(sim_);
    Key("Stop_No", "0");
    result_.End = RunEnd::Finished;
  } else {
    if (!lagsMoved_) ShiftLags();
    SaveBackup(sim_);
    result_.End = RunEnd::Stopped;
  }
  sim_.Data1File.Close();
  sim_.Data2File.Close();
  CloseKeptFiles();
  Key("Running", "0");
}

RunResult Driver::Run() {
  try {
    StartUp();
    if (sim_.R.RunGen == 1 && NoCheckpointOfGenerationOne()) {
      host_.Warn(RunFile(sim_, "Backup1.txt") +
                 ": the run stopped before its first checkpoint was written; it starts afresh");
      sim_.R.RunGen = sim_.R.StartGen = 0;
    }
    if (sim_.R.RunGen == 0) {
      result_.FirstGen = 0;
      FreshStart();
    } else {
      Resume();
      result_.FirstGen = sim_.R.RunGen;
    }
  } catch (const StoppedInStartUp&) {
    Key("Running", "0");
    result_.End = RunEnd::Stopped;
    result_.Message = "stopped on request during the start-up; no generation ran";
    result_.FirstGen = result_.LastGen = sim_.R.RunGen;
    return result_;
  }
  if (sim_.WriterThread) {
    sim_.Files.StartWriter();
    sim_.Files.SetIdle([this](auto waited) { WhileWaiting(waited); }, std::chrono::milliseconds(5));
  }
  struct NoIdle {
    FileQueue& q;
    ~NoIdle() { q.SetIdle({}, std::chrono::milliseconds(5)); }
  } noIdle{sim_.Files};
  while (sim_.R.RunGen < sim_.R.Gen_No && !sim_.R.ExitRequested) {
    if (!LoopGeneration()) {
      if (!stoppedAtWait_) {
        result_.LastGen = sim_.R.RunGen;
        result_.LastPrice = sim_.M.NewPrice;
      }
      return result_;
    }
  }
  try {
    // The end of the run writes directly, after the writes of the last generations.
    StopWriter();
  } catch (const StoppedAtCompanion& s) {
    StopAtCompanion(s);
    return result_;
  } catch (const std::exception& e) {
    ErrorPath(e.what());
    result_.LastGen = sim_.R.RunGen;
    result_.LastPrice = sim_.M.NewPrice;
    return result_;
  }
  EndRun();
  result_.LastGen = sim_.R.RunGen;
  result_.LastPrice = sim_.M.NewPrice;
  return result_;
}

} // namespace

RunResult RunSimulation(Simulation& sim, Host& host, Clock& clock, const std::string& iniFile,
                        const std::string& appDir, PhaseTimes* times) {
  Driver d(sim, host, clock, iniFile, appDir, times);
  RunResult r = d.Run();
  r.WaitSeconds = sim.Files.WaitedSeconds() + d.CompanionWait();
  return r;
}

} // namespace zupo
