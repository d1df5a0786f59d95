#pragma once
// The run's state, "one instance of each", gathered in one Simulation object. Plain data with
// the system's own names; the routines that work on it live in model/, market/, learning/ and
// run/, and take the Simulation they work on.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/filequeue.h"
#include "core/random.h"
#include "core/textio.h"

namespace zupo {

constexpr int MaxTraders = 500;
constexpr int DimLen = 111;
constexpr int MaxSymbols = 75;
constexpr int MaxVarsPerKind = 15;
constexpr long double ZeroTol = 1e-05L;
constexpr long double PriceStep = 2e-05L;

// Every parameter of the configuration. Reals marked 6 hold 6-byte values (see Round6).
struct Params {
  // [Stock_Market]
  double H0 = 0, M0 = 0, Irate = 0, Beta = 0; // 6
  // [Traders]
  int32_t Full = 0, Grow = 0, Reproduct = 0, Mutation = 0;
  double MutProb = 0; // 6
  uint8_t DepthLimit = 0;
  int32_t LeaveProb = 0;
  double MaxExp = 0; // 6
  uint8_t MutMode = 0;
  int32_t G_Gap = 0;
  double LibraryProb = 0; // read as an integer, held as a 6-byte real
  double Lambda = 0, Theta1 = 0, Theta2 = 0, Theta3 = 0; // 6
  uint8_t TryNo = 0;
  // Keys read by the driver at start-up (paths already resolved and mapped to '/').
  std::string Data_File, ExData_File, Tree_Path1, Tree_Path2;
  int32_t Gen_No = 0;
  int32_t Stop_No = 0;
  uint8_t Do_Dim = 0;
  std::string DimA_File, DimB_File, DimC_File;
};

// What a function code computes, chosen once from its name (see ApplyOp).
enum class SymOp : uint8_t { None, Add, Sub, Mul, Div, Abs, Cos, Exp, Log, Sin, Sqrt };

// The symbol set built from the configuration's lists. Codes 1..NSym index SymTab.
struct SymbolSet {
  std::array<std::string, MaxSymbols + 1> SymTab{}; // [0] unused
  std::array<SymOp, MaxSymbols + 1> Op{};           // by code, from SymTab
  std::string ConstItem;                            // "" or one character
  uint8_t NBinary = 0, NUnary = 0, NFunc = 0, NXVar = 0, NYVar = 0, NExtra = 0, NTerm = 0, NSym = 0;

  bool IsFunction(int c) const { return c <= NFunc; }
  bool IsBinary(int c) const { return c <= NBinary; }
  bool IsUnary(int c) const { return c > NBinary && c <= NFunc; }
  bool IsTerminal(int c) const { return c > NFunc; }
  bool IsConst(int c) const { return c == NSym; }
};

// One item of a model in postfix order.
struct TPostfixItem {
  uint8_t Sym = 0;
  double Value = 0; // 6; the number when Sym = NSym
};

// The per-trader state: two halves (1..500 and 501..1000) of the paired arrays, selected by
// CurBase / PrevBase, and single arrays 1..500. Index 0 is unused everywhere.
struct TraderBook {
  std::array<double, 2 * MaxTraders + 1> Shares{}; // 6
  std::array<long double, 2 * MaxTraders + 1> Money{};
  std::array<long double, 2 * MaxTraders + 1> Wealth{};
  std::array<long double, 2 * MaxTraders + 1> Forecast{};
  std::array<double, 2 * MaxTraders + 1> Sigma{}; // 6
  std::array<int32_t, 2 * MaxTraders + 1> OrderIdx{};
  std::array<long double, MaxTraders + 1> ModelValue{};
  std::array<long double, MaxTraders + 1> Profit{};
  std::array<long double, MaxTraders + 1> GapProfit{};
  std::array<long double, MaxTraders + 1> LastGapProfit{};
  std::array<int32_t, MaxTraders + 1> ModelDepth{};
  std::array<int32_t, MaxTraders + 1> ModelSize{};
  int32_t CurBase = 0;
  int32_t PrevBase = 500;
  int32_t IsMartingale = 0;
  // Per-trader search flags, cleared by the driver before each trader's turn.
  int32_t SucceedFlag = 0, VisitGenFlag = 0, VisitLibFlag = 0;
};

// Market variables of the current generation.
struct MarketState {
  std::array<long double, MaxVarsPerKind + 1> PriceLag{}; // [1] = Price = P(t)
  std::array<long double, MaxVarsPerKind + 1> PDLag{};    // [1] = P(t)+D(t)
  long double NewPrice = 0;                               // P(t+1)
  long double Dividend = 0;                               // D(t+1)
  int32_t BuyNo = 0, SellNo = 0, BeSNo = 0;
  double TotalBid = 0, TotalOffer = 0; // 6

  long double Price() const { return PriceLag[1]; }
};

// The statistics of the last row written (also kept in the checkpoint).
struct Statistics {
  double AveDepth = 0, AveNode = 0; // 6
  long double AveHi = 0, AveVijs = 0, AveSigma = 0;
  double VarDepth = 0, VarNode = 0, VarHi = 0, VarVijs = 0; // 6
  long double VarSigma = 0;
  long double TotalWealth = 0;
  std::array<long double, 6> Twealth{}; // [1..5]
};

// Run control, history windows and per-generation totals.
struct RunState {
  int32_t RunGen = 0;
  int32_t Gen_No = 0;
  int32_t StartGen = 0;
  bool ExitRequested = false;
  bool ExitPressed = false;
  int32_t MsgCount = 1;
  double FreeDiskMB = 0;                                 // 6
  std::array<double, DimLen + 1> DimA{}, DimB{}, DimC{}; // 6; position 111 is the newest
  std::array<double, MaxTraders + 1> Mape{};             // 6
  std::array<double, MaxVarsPerKind + 1> ExtraVals{};    // 6
  int32_t SucceedNo = 0, MartingaleNo = 0, VisitGenNo = 0, VisitLibNo = 0;
};

// A model held compiled: its postfix items exactly as reading its file gives them, the text of
// its file, and the measures of its tree.
struct StoredModel {
  std::vector<TPostfixItem> Items;
  std::string Text;       // Items written out, as its file holds (or is about to hold) it
  bool Known = false;     // Items and Text are valid
  bool Canonical = false; // writing Items gives Text again (false for some texts read from disk)
  bool Measured = false;  // Depth and Size are valid
  int32_t Depth = 0, Size = 0;
  // The bytes of the file as this run last wrote or read them.
  std::string OnDisk;
  bool OnDiskKnown = false;
};

// A library model and the identity of the file it was read from, so that a change made by the
// companion is seen.
struct LibraryModel {
  StoredModel M;
  long long MTimeNs = -1, Bytes = -1, Inode = -1;
  int32_t CheckedGen = -1; // the generation in which the file was last looked at
};

// The population's models by model number (Tree_Path1) and the library's (Tree_Path2). Nothing
// but this program writes the Tree_Path1 model files, so their files are read at most once and
// written only when a model's text changes; the library's are re-read when their file changed.
struct ModelStore {
  std::vector<StoredModel> Own;
  std::vector<LibraryModel> Lib;
  long Writes = 0; // model files written by this run
  // With enough file descriptors the population's files stay open between writes.
  bool KeepOpen = false;
  std::unique_ptr<RewrittenFile[]> OpenFiles; // by model number, when KeepOpen
  std::vector<TPostfixItem> Scratch;          // a tree's items on their way into the store
  void Clear() {
    Own.clear();
    Lib.clear();
  }
};

// The dividend series, kept in memory and re-read when the file on disk changes.
struct DividendCache {
  std::string Path;
  std::vector<long double> Values;
  long long MTimeNs = -1;
  long long Size = -1;
};

// The values of the learning snapshot files, read at most once while a file is unchanged; by
// set ('k', '1') and suffix (h w m s v f).
// One learning snapshot file as the replay reads it. A file this run wrote keeps its text and is
// read line by line as values are asked for (most never are); a file read from disk is parsed
// whole.
struct SnapshotFile {
  bool Known = false;
  std::vector<long double> Values; // by line - 1
  std::vector<uint8_t> Parsed;     // Values[k] is known; empty when all are
  std::string Text;
  std::vector<uint32_t> LineStart;
};
struct SnapshotCache {
  std::array<std::array<SnapshotFile, 6>, 2> Files;
};

// The numbers of the last checkpoint text and where each one's text lies in it. About half the
// trader fields do not change from one checkpoint to the next; their text is copied.
struct CheckpointFields {
  std::string Text, NextText;
  std::vector<long double> Values, NextValues;
  std::vector<uint32_t> Begin, Len, NextBegin, NextLen;
};

// The variance of the realised values at every replayed position of the learning replay. It
// depends on the windows alone, so it is computed once for all the searches of a generation.
struct ReplayWindows {
  int First = DimLen;                        // the first replayed position
  std::array<long double, DimLen + 1> Var{}; // NaN where the variance overflows
};
struct ReplayCache {
  bool Valid = false;
  std::array<double, DimLen + 1> DimA{}; // the window it was computed from
  ReplayWindows Windows;
};

// What a checkpoint holds, copied at the moment it is taken, so that its text can be built and
// written on the writer thread while the run goes on.
struct CheckpointState {
  TraderBook T;
  MarketState M;
  Statistics St;
  RunState R;
  int32_t NXVar = 0, NYVar = 0;
  bool KeepSameGeneration = true;
  bool HeadBuilt = false; // the head of the text was built by the run
};

// What this run knows of its checkpoint files after writing them itself. WrittenGen, Rotating
// and Fields belong to whoever writes the checkpoint (the writer thread while it runs).
struct CheckpointFiles {
  int32_t WrittenGen = -1; // the generation in Backup1.txt, -1 when not written by this run
  bool Rotating = false;   // Backup11.txt is a second, older file beside it
  // The text is built in two parts, each with the fields of its previous text: the head (up to
  // the money) and the tail. The writer thread keeps its own fields of the head, for the heads
  // it builds.
  CheckpointFields Fields, TailFields, WriterHeadFields;
  std::string Whole; // both parts, when the run writes the checkpoint itself
  // Copies waiting to be written; each returns to Free once written (reused, not freed).
  std::vector<std::unique_ptr<CheckpointState>> States;
  std::vector<CheckpointState*> Free;
  std::mutex FreeLock;
};

struct Simulation {
  Params P;
  SymbolSet S;
  TraderBook T;
  MarketState M;
  Statistics St;
  RunState R;

  // The model loaded last and its read position.
  std::vector<TPostfixItem> ModelList;
  size_t ModelCursor = 0;

  Rng Rand;
  Clock* TheClock = nullptr;
  // Modal warnings after which the run continues ("Error: Stack underfollow. ", ...).
  std::function<void(const std::string&)> Warn;
  // Lets the window process its pending messages (between the steps of long file work).
  std::function<void()> Pump;

  // Files of the run: paths are already resolved and use '/'.
  std::string IniFileName;
  AppendFile Data1File, Data2File;
  // Every write of the loop goes through here, in order; on a second thread when WriterThread
  // is set (see FileQueue).
  FileQueue Files;
  // The data and window files, rewritten every generation, stay open.
  RewrittenFile DataOut, DimAOut, DimBOut, DimCOut;
  bool WriterThread = true;
  TextReader ExData; // the extra-data file, read line by line when NExtra > 0

  ModelStore Models;
  CheckpointFiles Checkpoint;
  DividendCache Dstar;
  SnapshotCache Snapshots;
  ReplayCache Replay;

  void Warning(const std::string& msg) const {
    if (Warn) Warn(msg);
  }
  void ProcessMessages() const {
    if (Pump) Pump();
  }
};

} // namespace zupo
