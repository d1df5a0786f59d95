#include "library/keeper.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

#include "core/errors.h"
#include "core/format.h"
#include "core/paths.h"
#include "core/textio.h"
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

// The library files kept open by the keepers of this process, and how many may be: the limit of
// open files less a margin for everything else.
std::atomic<long> keptOpen{0};

long KeepOpenLimit() {
  static const long limit = [] {
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return 1L << 20;
    return std::max(0L, static_cast<long>(files.rlim_cur) - 256);
  }();
  return limit;
}

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
  modelDirs_.fill(-1);
  libraryDirs_.fill(-1);
  spareLength_.fill(-1);
  fileFd_.fill(-1);
  spareFd_.fill(-1);
  modelFd_.fill(-1);
  WatchModelFolders();
  for (int d = 0; d <= 9; ++d) {
    std::string dir = sim.P.Tree_Path1 + static_cast<char>('0' + d);
    std::string lib = sim.P.Tree_Path2 + static_cast<char>('0' + d);
    modelDirs_[d] = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    libraryDirs_[d] =
        modelDirs_[d] < 0 ? -1 : ::open(lib.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (libraryDirs_[d] < 0) {
      std::string msg = (modelDirs_[d] < 0 ? dir : lib) +
                        ": cannot open the model folder: " + std::strerror(errno);
      CloseFolders();
      throw RunError(msg);
    }
  }
}

LibraryKeeper::~LibraryKeeper() {
  CloseFolders();
}

void LibraryKeeper::CloseFolders() {
  for (int& fd : modelFd_) Forget(fd);
  for (int& fd : fileFd_) Forget(fd);
  for (int& fd : spareFd_) Forget(fd);
  for (auto* fds : {&modelDirs_, &libraryDirs_})
    for (int& fd : *fds) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  if (watchFd_ >= 0) ::close(watchFd_);
  watchFd_ = -1;
}

void LibraryKeeper::WatchModelFolders() {
  // Set before any file is read, so that no write after a reading goes unseen. Every event
  // that changes what a name holds is watched; a folder that is itself moved or removed ends
  // the watch (IN_IGNORED).
  constexpr uint32_t changes = IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                               IN_DELETE_SELF | IN_MOVE_SELF;
  watchFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  for (int d = 0; d <= 9 && watchFd_ >= 0; ++d) {
    std::string dir = sim_->P.Tree_Path1 + static_cast<char>('0' + d);
    if (::inotify_add_watch(watchFd_, dir.c_str(), changes) < 0) {
      ::close(watchFd_); // no watch (e.g. the limit of watches is reached): read every time
      watchFd_ = -1;
    }
  }
}

namespace {

// The model number of a population file name "T0001.dat" .. "T1000.dat" (0 for another name).
int ModelNumberOfName(const char* name) {
  if (name[0] != 'T') return 0;
  int n = 0;
  for (int k = 1; k <= 4; ++k) {
    if (name[k] < '0' || name[k] > '9') return 0;
    n = n * 10 + (name[k] - '0');
  }
  if (std::strcmp(name + 5, ".dat") != 0 || n < 1 || n > 2 * MaxTraders) return 0;
  return n;
}

} // namespace

void LibraryKeeper::TakeFileChanges() {
  auto trustNothing = [this](bool watchEnds) {
    fileKnown_.fill(false);
    for (int& fd : modelFd_) Forget(fd);
    if (watchEnds && watchFd_ >= 0) ::close(watchFd_); // from now on every file is read
    if (watchEnds) watchFd_ = -1;
  };
  if (watchFd_ < 0) return trustNothing(false);
  alignas(inotify_event) char buf[16384];
  for (;;) {
    ssize_t got = ::read(watchFd_, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return;  // every change is taken
    if (got <= 0) return trustNothing(true); // the watch failed
    for (char* p = buf; p < buf + got;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(p);
      p += sizeof(inotify_event) + ev->len;
      if (ev->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
        // Changes were lost, or a folder is no longer watched: nothing known is trusted.
        trustNothing(!(ev->mask & IN_Q_OVERFLOW));
        if (watchFd_ < 0) return;
        continue;
      }
      if (int n = ev->len > 0 ? ModelNumberOfName(ev->name) : 0) {
        fileKnown_[n] = false;
        if (ev->mask & ~IN_MODIFY) Forget(modelFd_[n]); // the name may be another file now
      }
    }
  }
}

void LibraryKeeper::ReadModelFile(int n, std::string& text) {
  char name[16];
  std::snprintf(name, sizeof name, "T%04d.dat", n);
  int& fd = modelFd_[n];
  if (fd < 0) {
    fd = ::openat(modelDirs_[std::min(n / 100, 9)], name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
      throw RunError(ModelFileName(*sim_, "T", n) + ": cannot open: " + std::strerror(errno));
    ++keptOpen;
  }
  text.clear();
  char buf[4096];
  for (off_t at = 0;;) {
    ssize_t got = ::pread(fd, buf, sizeof buf, at);
    if (got < 0) {
      if (errno == EINTR) continue;
      std::string msg = ModelFileName(*sim_, "T", n) + ": read failed: " + std::strerror(errno);
      Forget(fd);
      throw RunError(msg);
    }
    if (got == 0) break;
    text.append(buf, static_cast<size_t>(got));
    at += got;
    if (static_cast<size_t>(got) < sizeof buf) break; // a regular file: the rest is empty
  }
  // Kept for the next reading only while the watch reports what becomes of the name.
  if (watchFd_ < 0 || keptOpen > KeepOpenLimit()) Forget(fd);
}

bool LibraryKeeper::Learning(int g) const {
  return sim_->P.G_Gap <= 1 || g % sim_->P.G_Gap == 1;
}

int LibraryKeeper::ReadAheadFd() const {
  return servedGen_ > 0 && Learning(servedGen_ + 1) ? watchFd_ : -1;
}

double LibraryKeeper::TakeAheadMillis() {
  return std::exchange(aheadMillis_, 0.0);
}

template <class Readings> int LibraryKeeper::Forecast(const Readings& readings) {
  if (sim_->S.NExtra > 0) return 0; // the extra values of the next generation are not known
  struct Slid {
    Simulation& sim;
    const MapeScorer& scorer;
    Slid(Simulation& s, const MapeScorer& m) : sim(s), scorer(m) { scorer.BeginAhead(sim); }
    ~Slid() { scorer.EndAhead(sim); }
  } slid(*sim_, scorer_);
  int done = 0;
  for (Reading* r : readings) {
    // Only models judged on the current windows: Score takes the forecast with their terms.
    if (!r || !r->Readable || r->Memo.Epoch != scorer_.Epoch() ||
        r->Memo.NextEpoch == scorer_.Epoch())
      continue;
    scorer_.Ahead(*sim_, r->Items, r->Memo);
    ++done;
  }
  return done;
}

int LibraryKeeper::PrepareNext() {
  if (servedGen_ <= 0 || preparedGen_ == servedGen_) return 0;
  auto start = std::chrono::steady_clock::now();
  preparedGen_ = servedGen_;
  int done = Forecast(entryReading_) + Forecast(population_);
  aheadMillis_ +=
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return done;
}

int LibraryKeeper::ReadAhead() {
  auto start = std::chrono::steady_clock::now();
  TakeFileChanges();
  if (ReadAheadFd() < 0) return 0;
  const int base = HalfOfGeneration(servedGen_ + 1);
  int read = 0;
  std::vector<Reading*> fresh;
  for (int n = base + 1; n <= base + MaxTraders; ++n) {
    if (fileKnown_[n]) continue;
    fileReading_[n] = nullptr;
    try {
      ReadModelFile(n, fileText_[n]);
    } catch (const RunError&) {
      continue; // not there yet, or being replaced: the generation's work reads it
    }
    fileKnown_[n] = true;
    ++read;
    // A file caught while the run rewrote it is reported changed again and read again; its
    // judgement then stays unused.
    fileReading_[n] = ReadingOf(fileText_[n]);
    Judge(*fileReading_[n]);
    fresh.push_back(fileReading_[n]);
  }
  Forecast(fresh);
  aheadMillis_ +=
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return read;
}

void LibraryKeeper::ReadPopulation(int g) {
  TakeFileChanges();
  const int base = HalfOfGeneration(g);
  // Outside a learning generation every trader kept its model: the run wrote generation g's
  // models as the very texts of generation g - 1's, which are known already; so are the files
  // it wrote.
  if (!Learning(g) && populationGen_ == g - 1 && populationGen_ > 0) {
    for (int i = 1; i <= MaxTraders; ++i)
      if (!fileKnown_[base + i]) {
        fileText_[base + i] = *population_[i - 1]->Text;
        fileReading_[base + i] = population_[i - 1];
        fileKnown_[base + i] = true;
      }
    populationGen_ = g;
    return;
  }
  populationGen_ = 0;
  for (int i = 1; i <= MaxTraders; ++i) {
    int n = base + i;
    if (!fileKnown_[n]) {
      fileReading_[n] = nullptr;
      ReadModelFile(n, fileText_[n]);
      fileKnown_[n] = true;
    }
    if (!fileReading_[n]) fileReading_[n] = ReadingOf(fileText_[n]);
    population_[i - 1] = fileReading_[n];
  }
  populationGen_ = g;
}

std::string LibraryKeeper::SignalFile(int g) const {
  return RunFile(*sim_, "Gen" + FormatInt(g));
}

void LibraryKeeper::LoadEntries(int half) {
  for (int w = 1; w <= MaxTraders; ++w) {
    int n = half + w;
    std::string name = ModelFileName(*sim_, "T", n, true);
    entries_[w] = {};
    entryReading_[w] = nullptr;
    known_[n] = false;
    if (!FileExists(name)) continue;
    entries_[w].Text = ReadWholeFile(name);
    onDisk_[n] = entries_[w].Text;
    known_[n] = true;
  }
}

LibraryKeeper::Reading* LibraryKeeper::ReadingOf(const std::string& text) {
  auto [it, added] = readings_.try_emplace(text);
  Reading& r = it->second;
  if (added) {
    r.Text = &it->first;
    try {
      r.Items = ParseModelText(sim_->S, "library model", text);
      r.Key = InOrderKey(sim_->S, r.Items);
      r.KeyHash = std::hash<std::string>{}(r.Key);
    } catch (const RunError&) {
      r.Readable = false;
    }
  }
  return &r;
}

void LibraryKeeper::Judge(Reading& r) {
  // Many traders share a model: each text is judged once per generation.
  if (r.LastServe == serves_) return;
  if (r.Readable) r.Mape = LibraryMape(scorer_.Score(*sim_, r.Items, r.Memo));
  r.LastServe = serves_;
}

void LibraryKeeper::RefreshEntries(GenerationReport& rep) {
  offers_.clear();
  offerReadings_.clear();
  auto offer = [this](Reading* r) {
    offerReadings_.push_back(r);
    if (!r) {
      offers_.emplace_back();
      return;
    }
    Judge(*r);
    if (r->Readable)
      offers_.push_back({r->Text, &r->Key, r->KeyHash, r->Mape});
    else
      offers_.emplace_back();
  };
  for (int w = 1; w <= MaxTraders; ++w) {
    const std::string& text = entries_[w].Text;
    if (!entryReading_[w] && !text.empty()) entryReading_[w] = ReadingOf(text);
    offer(text.empty() ? nullptr : entryReading_[w]);
  }
  for (Reading* r : population_) offer(r);
  std::array<int, MaxTraders + 1> source;
  rep.Changed = RefreshLibrary(entries_, offers_, &source);
  for (int w = 1; w <= MaxTraders; ++w)
    entryReading_[w] = source[w] >= 0 ? offerReadings_[source[w]] : nullptr;
}

void LibraryKeeper::DropOldReadings() {
  // Readings not used for two generations are dropped, which bounds the memory.
  if (readings_.size() <= 4 * static_cast<size_t>(MaxTraders)) return;
  auto old = [this](const Reading* r) { return r && r->LastServe < serves_ - 1; };
  for (Reading*& r : fileReading_)
    if (old(r)) r = nullptr;
  for (Reading*& r : entryReading_)
    if (old(r)) r = nullptr;
  for (Reading*& r : population_)
    if (old(r)) {
      r = nullptr;
      populationGen_ = 0; // read again
    }
  std::erase_if(readings_, [this](const auto& kv) { return kv.second.LastServe < serves_ - 1; });
}

void LibraryKeeper::WriteHalf(int half) {
  for (int w = 1; w <= MaxTraders; ++w) {
    int n = half + w;
    const std::string& text = entries_[w].Text;
    if (known_[n] && onDisk_[n] == text) continue;
    long previous = known_[n] ? static_cast<long>(onDisk_[n].size()) : -1;
    known_[n] = false;
    WriteLibraryFile(n, text, previous);
    onDisk_[n] = text;
    known_[n] = true;
  }
}

void LibraryKeeper::WriteLibraryFile(int n, const std::string& text, long previousLength) {
  // As WriteFileBySwap, relative to the library folder. The files stay open: the descriptor of
  // the spare's inode is the one of the file it was exchanged with last, so a write is one
  // pwrite and one exchange. The spare is cut only when the new text does not cover it.
  const int d = std::min(n / 100, 9);
  const int dir = libraryDirs_[d];
  char name[16];
  std::snprintf(name, sizeof name, "T%04d.dat", n);
  auto fail = [&](const std::string& what) {
    RunError e(ModelFileName(*sim_, "T", n, true) + ": " + what + " " + SpareName + ": " +
               std::strerror(errno));
    spareLength_[d] = -1;
    Forget(spareFd_[d]);
    return e;
  };
  if (spareFd_[d] < 0) {
    spareFd_[d] = ::openat(dir, SpareName, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (spareFd_[d] < 0 && (errno == EMFILE || errno == ENFILE)) {
      for (int& kept : fileFd_) Forget(kept); // too many open files: give back those kept
      for (int& kept : modelFd_) Forget(kept);
      spareFd_[d] = ::openat(dir, SpareName, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    }
    if (spareFd_[d] < 0) throw fail("cannot open for writing");
    ++keptOpen;
  }
  const int fd = spareFd_[d];
  for (size_t done = 0; done < text.size();) {
    ssize_t put = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) throw fail("cannot write");
    done += static_cast<size_t>(put);
  }
  if (spareLength_[d] < 0 || static_cast<size_t>(spareLength_[d]) > text.size()) {
    if (::ftruncate(fd, static_cast<off_t>(text.size())) != 0)
      throw fail("cannot set the length of");
  }
  spareLength_[d] = static_cast<long>(text.size());
  // Exchanging the two names is atomic: the run never sees half a file.
  if (::renameat2(dir, SpareName, dir, name, RENAME_EXCHANGE) == 0) {
    std::swap(spareFd_[d], fileFd_[n]); // -1: the spare is opened by name when needed
    spareLength_[d] = previousLength;   // the spare now holds the file's previous text
    if (keptOpen > KeepOpenLimit()) Forget(fileFd_[n]);
    return;
  }
  if (errno != ENOENT && errno != EINVAL && errno != ENOSYS) throw fail("cannot exchange with");
  // No file to exchange with yet, or a file system without exchange: an ordinary replace.
  if (::renameat(dir, SpareName, dir, name) != 0) throw fail("cannot replace with");
  Forget(fileFd_[n]);
  fileFd_[n] = std::exchange(spareFd_[d], -1);
  spareLength_[d] = -1;
  if (keptOpen > KeepOpenLimit()) Forget(fileFd_[n]);
}

void LibraryKeeper::Forget(int& fd) {
  if (fd < 0) return;
  ::close(fd);
  fd = -1;
  --keptOpen;
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
  ++serves_; // the windows are new: every model is judged anew
  ReadWindowFiles(sim);
  // The run reads extra-data line 1 at its fresh start and one more line at the top of every
  // loop generation: generation g's signal file comes with line g + 1.
  if (sim.S.NExtra > 0) SeekExtraLine(sim, static_cast<long long>(g) + 1);
  scorer_.NewWindows(sim);
  if (g <= 1) {
    entries_ = {}; // a new run: the library starts from its first population
    entryReading_.fill(nullptr);
  } else if (servedGen_ != g - 1) {
    LoadEntries(HalfOfGeneration(g));
  }

  ReadPopulation(g);

  GenerationReport rep;
  rep.Gen = g;
  rep.AheadMillis = TakeAheadMillis();
  RefreshEntries(rep);
  if (entries_[1].Text.empty())
    throw RunError(ModelFileName(sim, "T", HalfOfGeneration(g) + 1) + ": no model of generation " +
                   FormatInt(g) + " could be read");
  WriteHalf(HalfOfGeneration(g + 1));
  WriteMapeFile();
  servedGen_ = g;

  std::string signal = SignalFile(g);
  if (::unlink(signal.c_str()) != 0 && errno != ENOENT)
    throw RunError(signal + ": cannot remove the signal file: " + std::strerror(errno));

  DropOldReadings();

  std::array<double, MaxTraders> errors;
  for (int w = 1; w <= MaxTraders; ++w) errors[w - 1] = entries_[w].Mape;
  std::sort(errors.begin(), errors.end());
  rep.Best = errors[0];
  rep.Median = errors[MaxTraders / 2 - 1];
  rep.Millis =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  rep.Evaluations = scorer_.Evaluations() - evaluationsReported_;
  evaluationsReported_ = scorer_.Evaluations();
  return rep;
}

} // namespace zupo
