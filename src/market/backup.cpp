#include "market/backup.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "core/errors.h"
#include "core/format.h"
#include "core/ini.h"
#include "core/paths.h"
#include "core/real6.h"
#include "core/textio.h"
#include "market/extradata.h"

namespace zupo {

namespace {

bool SameBits(long double a, long double b) {
  // The 80 bits of the value, not the padding.
  uint64_t ma = 0, mb = 0;
  uint16_t ea = 0, eb = 0;
  std::memcpy(&ma, &a, 8);
  std::memcpy(&mb, &b, 8);
  std::memcpy(&ea, reinterpret_cast<const char*>(&a) + 8, 2);
  std::memcpy(&eb, reinterpret_cast<const char*>(&b) + 8, 2);
  return ma == mb && ea == eb;
}

// The text being built, one line kind per helper. With a cache, a number whose bits equal those
// of the same field in the previous text is copied from there instead of formatted again.
struct Writer {
  std::string& s;
  CheckpointFields* cache = nullptr;
  size_t field = 0;

  template <class Format> void Number(long double v, Format format) {
    if (!cache) return format();
    const size_t k = field++;
    const size_t begin = s.size();
    if (k < cache->Values.size() && SameBits(cache->Values[k], v))
      s.append(cache->Text.data() + cache->Begin[k], cache->Len[k]);
    else
      format();
    cache->NextValues.push_back(v);
    cache->NextBegin.push_back(static_cast<uint32_t>(begin));
    cache->NextLen.push_back(static_cast<uint32_t>(s.size() - begin));
  }
  void Fixed(long double v) {
    Number(v, [&] { AppendFixed(s, v, 12, 5); });
    EndLine(s);
  }
  void Sci(long double v) {
    Number(v, [&] { AppendSci23(s, v); });
    EndLine(s);
  }
  void Int(long long v) {
    char buf[24];
    s.append(buf, static_cast<size_t>(std::to_chars(buf, buf + sizeof buf, v).ptr - buf));
    EndLine(s);
  }
  void SciList(std::initializer_list<long double> vs) {
    bool first = true;
    for (long double v : vs) {
      if (!first) s += ' ';
      AppendSci23(s, v);
      first = false;
    }
  }
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Makes room for the new checkpoint under tmp. Deleting a written file costs milliseconds on
// disks mounted with discard, so the file of the checkpoint before last (Backup11.txt) is moved
// to tmp and overwritten, rather than deleted. A Backup11.txt that is a second name of
// Backup1.txt (left by a kill inside the rotation) is only unlinked.
void ReuseOldCheckpoint(const std::string& path, const std::string& old, const std::string& tmp) {
  struct stat st1 = {};
  struct stat st11 = {};
  struct stat stt = {};
  if (::stat(tmp.c_str(), &stt) == 0 && stt.st_nlink > 1) ::unlink(tmp.c_str());
  if (::stat(old.c_str(), &st11) != 0) return;
  if (::stat(path.c_str(), &st1) == 0 && SameFile(st1, st11)) {
    if (::unlink(old.c_str()) != 0)
      throw RunError(old + ": cannot remove: " + std::strerror(errno));
  } else if (::rename(old.c_str(), tmp.c_str()) != 0) {
    throw RunError(old + ": cannot rename to " + tmp + ": " + std::strerror(errno));
  }
}

// Free-format reading of the checkpoint; every failure names the file.
class Loader {
public:
  explicit Loader(const std::string& path) : path_(path), in_(TextReader::Open(path)) {}
  long double Real() { return in_.ReadReal(); }
  // A 6-byte field, rounded to its format as it is stored.
  double Real6() {
    long double v = in_.ReadReal();
    try {
      return Round6(v);
    } catch (const FloatError&) {
      throw RunError(path_ + ": " + FormatGeneral(v) + " is too large for its field");
    }
  }
  int32_t Int(long long lo, long long hi, const char* what) {
    long long v = in_.ReadInt();
    if (v < lo || v > hi) throw RunError(path_ + ": " + FormatInt(v) + " is not a valid " + what);
    return static_cast<int32_t>(v);
  }
  // n lines of one value each, read by get(k).
  template <class Get> void Lines(int n, Get get) {
    for (int k = 1; k <= n; ++k) {
      get(k);
      in_.SkipLine();
    }
  }
  void SkipLine() { in_.SkipLine(); }
  bool Eof() const { return in_.Eof(); }
  // The NewPrice/Dividend line: two 12-character fields. Wider values (fixed notation widens
  // the field) still have exactly 5 decimals, so the first number ends 5 digits after its point.
  void PriceLine(long double& price, long double& dividend) {
    if (in_.Eof()) throw RunError(path_ + ": unexpected end of file at the NewPrice line");
    std::string line = in_.ReadLine();
    size_t cut = 12;
    if (line.size() != 24) {
      size_t dot = line.find('.');
      cut = (dot == std::string::npos) ? line.size() : dot + 6;
    }
    if (cut > line.size() || !Field(line.substr(0, cut), price) ||
        !Field(line.substr(cut), dividend))
      throw RunError(path_ + ": \"" + line + "\" is not a NewPrice and Dividend line");
  }

private:
  static bool Field(const std::string& s, long double& v) {
    size_t b = s.find_first_not_of(' ');
    size_t e = s.find_last_not_of(' ');
    return b != std::string::npos && ParseReal(std::string_view(s).substr(b, e + 1 - b), v);
  }
  std::string path_;
  TextReader in_;
};

// The half of OrderIdx at base lists every trader once; the previous half of the first
// generation's checkpoint may instead be all 0 (no order was made before the first generation).
void CheckOrderHalf(const std::string& path, const TraderBook& T, int base, bool mayBeEmpty) {
  std::array<bool, MaxTraders + 1> seen{};
  int zeros = 0;
  for (int p = 1; p <= MaxTraders; ++p) {
    int i = T.OrderIdx[base + p];
    if (i == 0) {
      ++zeros;
    } else if (seen[i]) {
      throw RunError(path + ": trader " + FormatInt(i) + " appears twice in the order at " +
                     FormatInt(base));
    } else {
      seen[i] = true;
    }
  }
  if (zeros == 0 || (mayBeEmpty && zeros == MaxTraders)) return;
  throw RunError(path + ": 0 is not a valid trader number (order at " + FormatInt(base) + ")");
}

} // namespace

namespace {

// What the checkpoint text is built from: the run's own state, or a copy of it.
struct CheckpointView {
  const TraderBook& T;
  const MarketState& M;
  const Statistics& St;
  const RunState& R;
  int NXVar, NYVar;
};

// The text up to the money, and the text from the wealth on.
void AppendHead(const CheckpointView& v, Writer& w);
void AppendTail(const CheckpointView& v, Writer& w);

CheckpointView ViewOf(const Simulation& sim) {
  return {sim.T, sim.M, sim.St, sim.R, sim.S.NXVar, sim.S.NYVar};
}

// One part of the checkpoint text, built with the fields of its previous text.
const std::string& PartText(CheckpointFields& c, const CheckpointView& v,
                            void (*part)(const CheckpointView&, Writer&)) {
  c.NextValues.clear();
  c.NextBegin.clear();
  c.NextLen.clear();
  c.NextText.clear();
  Writer w{c.NextText, &c};
  part(v, w);
  // The new text and its fields become the previous ones of the next checkpoint; the old text's
  // memory is kept for building the next one.
  std::swap(c.NextText, c.Text);
  std::swap(c.NextValues, c.Values);
  std::swap(c.NextBegin, c.Begin);
  std::swap(c.NextLen, c.Len);
  return c.Text;
}

} // namespace

std::string BackupText(const Simulation& sim) {
  std::string s;
  AppendBackupText(sim, s);
  return s;
}

const std::string& CheckpointText(Simulation& sim) {
  CheckpointFiles& c = sim.Checkpoint;
  c.Whole = PartText(c.Fields, ViewOf(sim), AppendHead);
  c.Whole += PartText(c.TailFields, ViewOf(sim), AppendTail);
  return c.Whole;
}

void AppendBackupText(const Simulation& sim, std::string& out, CheckpointFields* cache) {
  Writer w{out, cache};
  AppendHead(ViewOf(sim), w);
  AppendTail(ViewOf(sim), w);
}

namespace {

void AppendHead(const CheckpointView& v, Writer& w) {
  const TraderBook& T = v.T;
  const MarketState& M = v.M;
  w.s.reserve(w.s.size() + 120000);
  w.s += "GEN=" + FormatInt(v.R.RunGen) + "  First=" + FormatInt(T.PrevBase) +
         "  Second=" + FormatInt(T.CurBase);
  EndLine(w.s);
  for (int k = 1; k <= v.NXVar; ++k) w.Fixed(M.PriceLag[k]);
  for (int k = 1; k <= v.NYVar; ++k) w.Fixed(M.PDLag[k]);
  for (int k = 1; k <= 2 * MaxTraders; ++k) w.Fixed(T.Sigma[k]);
  for (int k = 1; k <= MaxTraders; ++k) w.Fixed(T.Profit[k]);
  for (int k = 1; k <= 2 * MaxTraders; ++k) w.Fixed(T.Shares[k]);
  for (int k = 1; k <= 2 * MaxTraders; ++k) w.Fixed(T.Money[k]);
}

void AppendTail(const CheckpointView& v, Writer& w) {
  const TraderBook& T = v.T;
  const MarketState& M = v.M;
  const Statistics& St = v.St;
  const RunState& R = v.R;
  w.s.reserve(w.s.size() + 120000);
  for (int k = 1; k <= 2 * MaxTraders; ++k) w.Fixed(T.Wealth[k]);
  for (int k = 1; k <= 2 * MaxTraders; ++k) w.Fixed(T.Forecast[k]);
  for (int k = 1; k <= 2 * MaxTraders; ++k) w.Int(T.OrderIdx[k]);
  for (int k = 1; k <= MaxTraders; ++k) w.Int(T.ModelDepth[k]);
  for (int k = 1; k <= MaxTraders; ++k) w.Int(T.ModelSize[k]);
  // NewPrice and Dividend touch when NewPrice fills its 12 columns.
  AppendFixed(w.s, M.NewPrice, 12, 5);
  w.Fixed(M.Dividend);
  w.s += FormatInt(T.PrevBase) + ' ' + FormatInt(T.CurBase);
  EndLine(w.s);
  for (int k = 1; k <= DimLen; ++k) w.Sci(R.DimA[k]);
  for (int k = 1; k <= DimLen; ++k) w.Sci(R.DimB[k]);
  for (int k = 1; k <= DimLen; ++k) w.Sci(R.DimC[k]);
  for (int k = 1; k <= MaxTraders; ++k) w.Sci(T.GapProfit[k]);
  for (int k = 1; k <= MaxTraders; ++k) w.Sci(T.LastGapProfit[k]);
  w.s += FormatInt(M.BuyNo) + ' ' + FormatInt(M.SellNo) + ' ' + FormatInt(M.BeSNo) + ' ' +
         FormatInt(R.MsgCount) + ' ';
  w.SciList({M.TotalBid, M.TotalOffer});
  EndLine(w.s);
  w.SciList(
      {St.TotalWealth, St.Twealth[1], St.Twealth[2], St.Twealth[3], St.Twealth[4], St.Twealth[5]});
  EndLine(w.s);
  w.SciList({St.AveDepth, St.AveNode, St.AveHi, St.AveVijs, St.AveSigma, St.VarDepth, St.VarNode});
  EndLine(w.s);
  w.SciList({St.VarHi, St.VarVijs, St.VarSigma});
  w.s += ' ' + FormatInt(R.SucceedNo) + ' ' + FormatInt(R.MartingaleNo) + ' ' +
         FormatInt(R.VisitGenNo, 3) + ' ' + FormatInt(R.VisitLibNo);
  EndLine(w.s);
}

} // namespace

int BackupGeneration(const std::string& path) {
  // Only the first line matters; the rest of the file is not read.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char buf[64];
  ssize_t n = ::read(fd, buf, sizeof buf);
  ::close(fd);
  if (n <= 0) return -1;
  std::string_view head(buf, static_cast<size_t>(n));
  if (head.substr(0, 4) != "GEN=") return -1;
  size_t e = 4;
  while (e < head.size() && head[e] >= '0' && head[e] <= '9') ++e;
  // The number must end there: "GEN=12" is generation 12, never generation 1.
  if (e == head.size() || (head[e] != ' ' && head[e] != '\r' && head[e] != '\n')) return -1;
  long long g = 0;
  if (!ParseInt(head.substr(4, e - 4), g) || g > 0x7fffffff) return -1;
  return static_cast<int>(g);
}

namespace {

// The window is asked to process its messages between the steps of a direct write; the writer
// thread leaves the window alone.
void Pump(const Simulation& sim) {
  if (!sim.Files.OnWriter()) sim.ProcessMessages();
}

// Stop_No, then the checkpoint files: text becomes Backup1.txt and the one before Backup11.txt.
void WriteCheckpoint(Simulation& sim, int32_t gen, bool keepSameGeneration, std::string_view text) {
  IniWrite(sim.IniFileName, "Common", "Stop_No", FormatInt(gen));
  const std::string path = FileInFolder(sim.P.Tree_Path1, "Backup1.txt");
  const std::string old = FileInFolder(sim.P.Tree_Path1, "Backup11.txt");
  const std::string tmp = path + ".tmp";
  CheckpointFiles& known = sim.Checkpoint;
  // Once this run has rotated the checkpoint, it knows the state of the three names: Backup1.txt
  // holds generation WrittenGen, Backup11.txt is the file before it, the temporary is gone.
  // Then no look at the folder is needed; a rename that fails sends it back to looking.
  bool fast = known.WrittenGen >= 0 && known.Rotating;
  if (fast && keepSameGeneration && known.WrittenGen == gen) return;
  if (fast && ::rename(old.c_str(), tmp.c_str()) != 0) fast = false;
  known.WrittenGen = -1;
  known.Rotating = false;
  const bool exists = fast || FileExists(path);
  if (!fast) {
    // The first generation after a resume finds its own checkpoint and keeps it.
    if (keepSameGeneration && exists && BackupGeneration(path) == gen) return;
    // The new checkpoint is complete under its temporary name before Backup1.txt is touched,
    // and Backup1.txt is replaced by a rename, so a kill at any moment leaves a whole
    // Backup1.txt.
    if (exists) ReuseOldCheckpoint(path, old, tmp);
  }
  WriteFileInPlace(tmp, text);
  if (exists) {
    // Backup11.txt becomes a second name of the current checkpoint (a copy where links fail).
    if (::link(path.c_str(), old.c_str()) != 0) WriteFileInPlace(old, ReadWholeFile(path));
    Pump(sim);
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0)
    throw RunError(path + ": cannot replace with " + tmp + ": " + std::strerror(errno));
  known.WrittenGen = gen;
  known.Rotating = exists;
  if (exists) Pump(sim);
}

} // namespace

void SaveBackup(Simulation& sim, bool keepSameGeneration) {
  if (!sim.Files.HasWriter())
    return WriteCheckpoint(sim, sim.R.RunGen, keepSameGeneration, CheckpointText(sim));
  // With a writer thread the state is copied now; the text is built and the files are written in
  // their turn among the run's writes, while the run goes on. When the writer is behind, the run
  // builds the head of the text itself, so that the two threads share the formatting. Each
  // builder keeps the fields of its own previous text (a copy is only faster, never different),
  // and only the writer uses sim.Checkpoint's file state.
  CheckpointFiles& c = sim.Checkpoint;
  CheckpointState* st = nullptr;
  {
    std::lock_guard lock(c.FreeLock);
    if (c.Free.empty()) {
      c.States.push_back(std::make_unique<CheckpointState>());
      c.Free.push_back(c.States.back().get());
    }
    st = c.Free.back();
    c.Free.pop_back();
  }
  st->T = sim.T;
  st->M = sim.M;
  st->St = sim.St;
  st->R = sim.R;
  st->NXVar = sim.S.NXVar;
  st->NYVar = sim.S.NYVar;
  st->KeepSameGeneration = keepSameGeneration;
  st->HeadBuilt = sim.Files.Backlog() >= 2;
  Simulation* s = &sim;
  std::string_view head;
  if (st->HeadBuilt) head = PartText(c.Fields, ViewOf(sim), AppendHead);
  sim.Files.Run(head, [s, st](std::string& text) {
    struct GiveBack {
      Simulation* s;
      CheckpointState* st;
      ~GiveBack() {
        std::lock_guard lock(s->Checkpoint.FreeLock);
        s->Checkpoint.Free.push_back(st);
      }
    } back{s, st};
    const CheckpointView v{st->T, st->M, st->St, st->R, st->NXVar, st->NYVar};
    if (!st->HeadBuilt) text = PartText(s->Checkpoint.WriterHeadFields, v, AppendHead);
    text += PartText(s->Checkpoint.TailFields, v, AppendTail);
    WriteCheckpoint(*s, st->R.RunGen, st->KeepSameGeneration, text);
  });
}

void RestoreBackup(Simulation& sim, const std::string& from) {
  // The uninterrupted run had read line RunGen + 1 of the extra data at this checkpoint.
  if (sim.S.NExtra > 0) SeekExtraLine(sim, sim.R.RunGen + 1LL);
  const std::string path = from.empty() ? FileInFolder(sim.P.Tree_Path1, "Backup1.txt") : from;
  Loader L(path);
  if (L.Eof()) throw RunError(path + ": the checkpoint is empty");
  L.SkipLine(); // the halves are taken from their own line further down

  // Read into copies, so that a bad checkpoint leaves the state as it was.
  TraderBook T = sim.T;
  MarketState M = sim.M;
  Statistics St;
  RunState R = sim.R;
  L.Lines(sim.S.NXVar, [&](int k) { M.PriceLag[k] = L.Real(); });
  L.Lines(sim.S.NYVar, [&](int k) { M.PDLag[k] = L.Real(); });
  L.Lines(2 * MaxTraders, [&](int k) { T.Sigma[k] = L.Real6(); });
  L.Lines(MaxTraders, [&](int k) { T.Profit[k] = L.Real(); });
  L.Lines(2 * MaxTraders, [&](int k) { T.Shares[k] = L.Real6(); });
  L.Lines(2 * MaxTraders, [&](int k) { T.Money[k] = L.Real(); });
  L.Lines(2 * MaxTraders, [&](int k) { T.Wealth[k] = L.Real(); });
  L.Lines(2 * MaxTraders, [&](int k) { T.Forecast[k] = L.Real(); });
  // 0 marks an order not made yet (the previous half of a generation-1 checkpoint); the halves
  // are checked once their offsets are known.
  L.Lines(2 * MaxTraders, [&](int k) { T.OrderIdx[k] = L.Int(0, MaxTraders, "trader number"); });
  L.Lines(MaxTraders, [&](int k) { T.ModelDepth[k] = L.Int(0, 0x7fffffff, "model depth"); });
  L.Lines(MaxTraders, [&](int k) { T.ModelSize[k] = L.Int(0, 0x7fffffff, "model size"); });
  L.PriceLine(M.NewPrice, M.Dividend);
  T.PrevBase = L.Int(0, MaxTraders, "half offset");
  T.CurBase = L.Int(0, MaxTraders, "half offset");
  if (T.PrevBase + T.CurBase != MaxTraders || (T.CurBase != 0 && T.CurBase != MaxTraders))
    throw RunError(path + ": the half offsets " + FormatInt(T.PrevBase) + " " +
                   FormatInt(T.CurBase) + " are not 0 and 500");
  CheckOrderHalf(path, T, T.CurBase, false);
  CheckOrderHalf(path, T, T.PrevBase, true);
  L.SkipLine();
  L.Lines(DimLen, [&](int k) { R.DimA[k] = L.Real6(); });
  L.Lines(DimLen, [&](int k) { R.DimB[k] = L.Real6(); });
  L.Lines(DimLen, [&](int k) { R.DimC[k] = L.Real6(); });
  L.Lines(MaxTraders, [&](int k) { T.GapProfit[k] = L.Real(); });
  L.Lines(MaxTraders, [&](int k) { T.LastGapProfit[k] = L.Real(); });
  constexpr long long Big = 0x7fffffff;
  M.BuyNo = L.Int(0, Big, "count");
  M.SellNo = L.Int(0, Big, "count");
  M.BeSNo = L.Int(0, Big, "count");
  R.MsgCount = L.Int(0, Big, "message count");
  M.TotalBid = L.Real6();
  M.TotalOffer = L.Real6();
  L.SkipLine();
  St.TotalWealth = L.Real();
  for (int g = 1; g <= 5; ++g) St.Twealth[g] = L.Real();
  L.SkipLine();
  St.AveDepth = L.Real6();
  St.AveNode = L.Real6();
  St.AveHi = L.Real();
  St.AveVijs = L.Real();
  St.AveSigma = L.Real();
  St.VarDepth = L.Real6();
  St.VarNode = L.Real6();
  L.SkipLine();
  St.VarHi = L.Real6();
  St.VarVijs = L.Real6();
  St.VarSigma = L.Real();
  R.SucceedNo = L.Int(0, Big, "count");
  R.MartingaleNo = L.Int(0, Big, "count");
  R.VisitGenNo = L.Int(0, Big, "count");
  R.VisitLibNo = L.Int(0, Big, "count");
  sim.T = T;
  sim.M = M;
  sim.St = St;
  sim.R = R;
}

} // namespace zupo
