#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <tuple>

#include "core/ini.h"
#include "core/paths.h"
#include "market/backup.h"
#include "market/extradata.h"
#include "market/population.h"
#include "market/snapshot.h"
#include "market/statistics.h"
#include "market/traders.h"
#include "model/generate.h"
#include "model/modelfile.h"
#include "run/runfiles.h"
#include "testutil.h"

namespace zupo::test {

// A run folder and a state where every field of the checkpoint has its own values.
struct Checkpoint : ::testing::Test, RunFolder {
  Simulation back; // a second run in the same folder
  const std::string backup1 = dir / "run/Backup1.txt", backup11 = dir / "run/Backup11.txt";

  void SetUp() override {
    auto [M, R, T] = std::tie(sim.M, sim.R, sim.T);
    std::tie(sim.IniFileName, sim.S.NXVar, sim.S.NYVar, R.RunGen, T.CurBase, T.PrevBase) =
        std::tuple(dir / "Zupo.ini", 3, 2, 7, 500, 0);
    for (int k = 1; k <= 3; ++k) M.PriceLag[k] = 80.123456789L + k, M.PDLag[k] = 81.000004L + k;
    for (int k = 1; k <= 2 * MaxTraders; ++k) {
      std::tie(T.Sigma[k], T.Shares[k], T.Money[k], T.Wealth[k], T.Forecast[k], T.OrderIdx[k]) =
          std::tuple(Round6(k + 0.123456L), k * 0.25 - 100, k + 0.987654L, 1000 * k + 0.333333L,
                     -(k + 0.555557L), (k * 7) % 500 + 1);
      if (k <= MaxTraders)
        std::tie(T.Profit[k], T.ModelDepth[k], T.ModelSize[k], T.GapProfit[k], T.LastGapProfit[k]) =
            std::tuple(-(k + 0.5L), k % 17, k % 101 + 1, k * 0.125L - 30, -k * 1024.5L);
    }
    std::tie(M.NewPrice, M.Dividend) = std::tuple(123456.12345L, 0.5L); // all 12 columns
    // Wealth compounds past 1e58 in long runs; prices pass 1e6 and outgrow their 12 columns.
    std::tie(T.Wealth[3], T.Money[1000], T.Profit[500], M.PriceLag[2]) =
        std::tuple(1e70L, 1e400L / 7, -1e4000L, 1234567.5L);
    for (int k = 1; k <= DimLen; ++k)
      std::tie(R.DimA[k], R.DimB[k], R.DimC[k]) =
          std::tuple(Round6(k / 3.0L), Round6(-k * 1e-7L), Round6(k * 12345.678L));
    std::tie(M.BuyNo, M.SellNo, M.BeSNo, R.MsgCount, M.TotalBid, M.TotalOffer) =
        std::tuple(123, 45, 332, 17, Round6(1234.5678L), Round6(0.1L));
    sim.St = {3.25, 12.75, 1.5L,  80.25L,  0.1L,      0.25,
              4.5,  0.75,  2.125, 0.0625L, 125250.5L, {0, 0.11L, 0.22L, 0.33L, 0.2L, 0.14L}};
    std::tie(R.SucceedNo, R.MartingaleNo, R.VisitGenNo, R.VisitLibNo) = std::tuple(5, 123, 7, 9);
  }
  std::string Resume(int gen) { // the error's message, or "" when the second run restored
    back.P = sim.P, back.S = sim.S, back.IniFileName = sim.IniFileName, back.R.RunGen = gen;
    try {
      RestoreBackup(back);
    } catch (const RunError& e) {
      return e.what();
    }
    return "";
  }
  std::string StopNo() { return IniRead(sim.IniFileName, "Common", "Stop_No", "?"); }
};

TEST_F(Checkpoint, RoundTripRestoresEveryField) {
  const std::string text = BackupText(sim);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8840 + 3 + 2);
  EXPECT_NE(text.find("\r\n123456.12345     0.50000\r\n0 500\r\n 3.33333333333485E-0001\r\n"),
            std::string::npos); // NewPrice and Dividend touch
  SaveBackup(sim);
  WriteText(dir / "Extra.txt", "10\r\n20\r\n30\r\n40\r\n50\r\n");
  std::tie(sim.P.ExData_File, sim.S.NExtra) = std::tuple(dir / "Extra.txt", 1);
  ASSERT_EQ(Resume(7), "");
  EXPECT_EQ(back.R.ExtraVals[1], 30.0); // generation 8 reads line 8, that is line 3 of five
  // Every field comes back as it was written, the huge ones to their 21 digits.
  EXPECT_EQ(BackupText(back), ReadText(backup1));
  EXPECT_EQ(back.T.Sigma[777], Round6(777.12346L)); // a 12.5 field, then rounded to 6 bytes
}

TEST_F(Checkpoint, WrittenOnceForEachGenerationMatchedExactlyAndSafeFromAKill) {
  sim.R.RunGen = 12;
  SaveBackup(sim);
  const std::string twelve = ReadText(backup1);
  // "GEN=12" is not generation 1; the price outgrows its 12 columns.
  std::tie(sim.R.RunGen, sim.M.NewPrice) = std::tuple(1, 1234567.5L);
  SaveBackup(sim);
  EXPECT_EQ(std::tuple(BackupGeneration(backup1), ReadText(backup11), StopNo()),
            std::tuple(1, twelve, "1")); // the previous checkpoint is kept unchanged
  sim.M.NewPrice = 1; // changed state, same generation: the checkpoint stays (see the restore)
  SaveBackup(sim);
  // A kill in the message pump, between rotation and rename, leaves generation 2 as ".tmp".
  std::tie(sim.Pump, sim.R.RunGen) = std::tuple([] { throw std::runtime_error("killed"); }, 2);
  EXPECT_THROW(SaveBackup(sim), std::runtime_error);
  EXPECT_EQ(std::tuple(BackupGeneration(backup1 + ".tmp"), BackupGeneration(backup1), StopNo()),
            std::tuple(2, 1, "2"));
  ASSERT_EQ(Resume(1), "");
  EXPECT_EQ(back.M.NewPrice, 1234567.5L);
}

TEST_F(Checkpoint, EmptyShortOrBadFileIsNamedAndTheStateUntouched) {
  const std::string good = BackupText(sim);
  const std::pair<std::string, std::string> edits[] = {
      {good, ""},                            // empty
      {good.substr(good.size() / 2), ""},    // cut short
      {"    81.12346", "    81.1x346"},      // not a number
      {"\r\n1\r\n8\r\n", "\r\n0\r\n8\r\n"}}; // a trader number out of range
  std::tie(back.M.NewPrice, back.T.Money[1]) = std::tuple(42, 42);
  for (const auto& [from, to] : edits) {
    WriteText(backup1, std::string(good).replace(good.find(from), from.size(), to));
    EXPECT_NE(Resume(7).find("Backup1.txt"), std::string::npos) << to;
    EXPECT_EQ(std::tuple(back.M.NewPrice, back.T.Money[1]), std::tuple(42.0L, 42.0L));
  }
}

// Rotation by the run itself and numbers copied from the previous text must still give the full
// text of each state; a Backup11.txt removed behind the run's back sends it back to the folder.
TEST_F(Checkpoint, RotationByTheRunAndCopiedNumbersGiveTheFullText) {
  std::string before;
  for (int g = 1; g <= 6; ++g) {
    sim.R.RunGen = g;
    sim.T.Money[g] = -sim.T.Money[g];                // a changed number
    sim.T.Forecast[600] = g % 2 ? 0.0L : -0.0L;      // equal as numbers, not as text
    sim.T.Wealth[g + 1] = std::ldexp(1.0L, 200 + g); // a large integer
    if (g == 4) std::filesystem::remove(backup11);
    SaveBackup(sim);
    EXPECT_EQ(ReadText(backup1), BackupText(sim)) << g;
    EXPECT_EQ(g > 1 ? ReadText(backup11) : before, before) << g;
    EXPECT_FALSE(std::filesystem::exists(backup1 + ".tmp")) << g;
    before = ReadText(backup1);
  }
  SaveBackup(sim); // the same generation again: kept
  EXPECT_EQ(ReadText(backup11).rfind("GEN=5  ", 0), 0u);
}

// The checkpoint at the top of generation 2 holds a previous half of zeros (generation 1 orders
// only its own), which a resume accepts; a zero anywhere else, or a trader twice, is refused.
TEST_F(Checkpoint, OrderHalvesAreCheckedAsPermutations) {
  std::tie(sim.T.CurBase, sim.T.PrevBase, sim.R.RunGen) = std::tuple(0, 500, 1);
  for (int p = 1; p <= MaxTraders; ++p)
    sim.T.OrderIdx[p] = MaxTraders + 1 - p, sim.T.OrderIdx[MaxTraders + p] = 0;
  SaveBackup(sim);
  ASSERT_EQ(Resume(1), "");
  EXPECT_EQ(std::tuple(back.T.OrderIdx[1], back.T.OrderIdx[500], back.T.OrderIdx[501]),
            std::tuple(500, 1, 0));
  using Case = std::tuple<int, int, const char*>;
  const char* zero = "0 is not a valid trader number";
  for (auto [at, value, says] :
       {Case{MaxTraders + 7, 3, zero}, Case{7, 0, zero}, Case{8, 500, "trader 500 appears twice"},
        Case{9, 501, "501 is not a valid trader number"}}) {
    const int keep = std::exchange(sim.T.OrderIdx[at], value);
    WriteText(backup1, BackupText(sim));
    EXPECT_NE(Resume(1).find(says), std::string::npos) << at << " " << Resume(1);
    sim.T.OrderIdx[at] = keep;
  }
  // Only the previous half may be unordered: swapped offsets put the zeros in the current one.
  std::tie(sim.T.CurBase, sim.T.PrevBase) = std::tuple(500, 0);
  WriteText(backup1, BackupText(sim));
  EXPECT_NE(Resume(1).find("0 is not a valid trader number (order at 500)"), std::string::npos);
  // The generation must end where the number does.
  for (const char* head : {"GEN=5x  First=0", "GEN=5", "GEN=  First"}) {
    WriteText(backup1, std::string(head) + "\r\n");
    EXPECT_EQ(BackupGeneration(backup1), std::string(head) == "GEN=5" ? 5 : -1) << head;
  }
}

TEST(ExtraData, LinesWrapAroundAfterTheLastAndSeekStartsAnywhere) {
  RunFolder run;
  auto& [dir, sim] = run;
  std::tie(sim.S.NExtra, sim.P.ExData_File) = std::tuple(2, dir / "Extra.txt");
  auto open = [&](const char* text) { WriteText(sim.P.ExData_File, text), OpenExtraData(sim); };
  auto feed = [&](int generations) { // the first value in this and the following generations
    std::vector<double> seen{sim.R.ExtraVals[1]};
    for (int k = 1; k < generations; ++k, seen.push_back(sim.R.ExtraVals[1])) ReadExtraLine(sim);
    return seen;
  };
  open("1 0.1\r\n2 0.2 ignored\r\n3 0.3\r\n"); // the first number is the line's
  EXPECT_EQ(sim.R.ExtraVals[2], Round6(0.1L)); // a 6-byte value
  EXPECT_EQ(feed(5), std::vector<double>({1, 2, 3, 1, 2}));
  open("7 8\n\n  \r\n"); // one line (blank ones are none): always it
  EXPECT_EQ(feed(3), std::vector<double>({7, 7, 7}));
  EXPECT_THROW(open("1 x\r\n"), RunError);
}

// The generation that has just ended is in the PrevBase half (501..1000 by default).
TEST(Snapshots, FilesOfThePrevBaseHalfAndTheirValuesReadBack) {
  RunFolder run;
  Simulation& sim = run.sim;
  TraderBook& T = sim.T;
  for (int i = 501; i <= 2 * MaxTraders; ++i)
    std::tie(T.Shares[i], T.Wealth[i], T.Money[i], T.Sigma[i], T.Forecast[i], T.OrderIdx[i]) =
        std::tuple(i - 500, i + 500, 0.5L * (i - 500), 0.25, i - 420, 1001 - i);
  std::tie(T.Shares[501], T.Forecast[501]) = std::tuple(-2.5, 1.0L / 3); // negative; 16+ digits
  WriteText(SnapshotPath(sim, 'k', 'f'), std::string(10000, '9'));       // an older, longer file
  WriteSnapshotSet(sim, 'k');
  auto text = [&](char suffix) { return ReadText(SnapshotPath(sim, 'k', suffix)); };
  EXPECT_EQ(text('h').substr(0, 50), "-2.50000000000000E+0000\r\n 2.00000000000000E+0000\r\n");
  EXPECT_EQ(text('v').substr(0, 50), " 3.33333333333333E-0001\r\n 8.20000000000000E+0001\r\n");
  // Ranks 500 down to 1 (9 + 90 + 401 numbers of 1, 2, 3 digits); the older file is cut.
  EXPECT_EQ(text('f').substr(9 * 3 + 90 * 4 + 401 * 5 - 9), "3\r\n2\r\n1\r\n");
  std::filesystem::remove(SnapshotPath(sim, 'k', 'v')); // what this run wrote is remembered
  EXPECT_EQ(SnapshotValue(sim, 'k', 'v', 1), 0.333333333333333L);
  Simulation other; // a resumed run reads the files
  other.P = sim.P;
  EXPECT_EQ(std::tuple(SnapshotValue(other, 'k', 'w', 500), SnapshotValue(other, 'k', 'm', 2),
                       SnapshotValue(other, 'k', 's', 1)),
            std::tuple(1500.0L, 1.0L, 0.25L));
  for (Simulation* s : {&sim, &other}) // past the last line both fail alike
    EXPECT_TRUE(FailsNaming([&] { SnapshotValue(*s, 'k', 'w', 501); }, "line 501"));
  EXPECT_EQ(SnapshotValue(sim, 'k', 'w', 10), 1010.0L);
  T.Wealth[510] = -3; // a new set replaces the remembered values, read or not
  WriteSnapshotSet(sim, 'k');
  EXPECT_EQ(SnapshotValue(sim, 'k', 'w', 10), -3.0L);
  EXPECT_EQ(SnapshotValue(sim, 'k', 'w', 11), 1011.0L);
}

TEST(StatisticsRow, FieldWidthsOfTheRowAndTheDumpLine) {
  Simulation sim;
  std::tie(sim.R.RunGen, sim.M.NewPrice, sim.M.Dividend) = std::tuple(7, 80.123456L, 0.5L);
  std::tie(sim.M.BuyNo, sim.M.SellNo, sim.M.BeSNo, sim.R.SucceedNo, sim.R.MartingaleNo,
           sim.R.VisitGenNo) = std::tuple(12, 3, 485, 5, 123, 7);
  // TotalOffer takes 11 characters in a field of 9: the row widens.
  std::tie(sim.M.TotalBid, sim.M.TotalOffer) = std::tuple(Round6(123.456789L), 10000.0);
  sim.St = {3.5, 12.25, 1.5L,  80.0625L, 0.03125L, 0.25,
            4.5, 0.75,  2.125, 0.0001L,  0,        {0, 0.1L, 0.15L, 0.2L, 0.25L, 0.3L}};
  EXPECT_EQ(StatisticsRow(sim),
            "    7        80.12346   0.50   12      3    485     123.45679  10000.00000  0.10000"
            "   0.15000   0.20000   0.25000   0.30000   3.50000    12.25000   1.50000    80.06250"
            "       0.03125    0.25000      4.50000    0.75000       2.12500        0.00010      5"
            "           123             7            0\r\n");
  // Trader 3: PDLag[1] less the previous forecast (PrevBase half), then the CurBase half.
  std::tie(sim.M.PDLag[1], sim.T.Forecast[503], sim.T.ModelValue[3]) =
      std::tuple(81.5L, 80.25L, 12.345678L);
  std::tie(sim.T.Shares[3], sim.T.Sigma[3], sim.T.Forecast[3]) = std::tuple(2.5, 0.125, -3.5L);
  EXPECT_EQ(DumpLine(sim, 3, "X01X02+\r\n( 1.50 )*\r\nSIN"),
            "        1.25000     2.50000     0.12500         -3.50000         12.34568   "
            "X01X02+( 1.50 )*SIN\r\n");
}

// Halves: CurBase 501..1000 (trader i forecasts i), PrevBase 1..500 (booked wealth i).
TEST(Stats, DumpBlockOfGenerationOneAndEveryFiveHundredthAndTheWealthOfGenerationOne) {
  RunFolder run;
  auto& [dir, sim] = run;
  TraderBook& T = sim.T;
  std::tie(T.CurBase, T.PrevBase, sim.R.RunGen) = std::tuple(500, 0, 2);
  for (int i = 1; i <= MaxTraders; ++i) {
    std::tie(T.Forecast[500 + i], T.Shares[500 + i], T.Sigma[500 + i], T.OrderIdx[500 + i],
             T.Wealth[500 + i]) = std::tuple(i, 1.5, i <= 250 ? 0.5 : 1.5, 501 - i, 1);
    std::tie(T.Forecast[i], T.Shares[i], T.Wealth[i]) = std::tuple(-1000, 99, i); // previous half
  }
  sim.Data1File.Create(RunFile(sim, "Data1.txt"));
  sim.Data2File.Create(RunFile(sim, "Data2.txt"));
  for (int i = 501; i <= 2 * MaxTraders; ++i)
    WriteText(ModelFileName(sim, "T", i), "X01\r\nY02+\r\n");
  for (int t : {1, 2, 499, 500, 501, 1000}) sim.R.RunGen = t, WriteStatistics(sim);
  const std::string d2 = ReadText(RunFile(sim, "Data2.txt")); // on disk while open
  EXPECT_EQ(std::count(d2.begin(), d2.end(), '\n'), 3 * 501); // blocks of 1, 500 and 1000
  // Each block opens with trader 1: error 0 - (-1000), shares 1.5, variance 0.5, forecast 1.
  const std::string trader1 =
      "\r\n     1000.00000     1.50000     0.50000          1.00000          0.00000   X01Y02+\r\n";
  for (std::string g : {"1", "500", "1000"})
    EXPECT_NE(d2.find("Generation:" + g + trader1), std::string::npos) << g;
  sim.R.RunGen = 1; // no exchange of halves happened yet: the CurBase half counts
  ComputeStatistics(sim);
  const Statistics& s = sim.St;
  EXPECT_DOUBLE_EQ(double(s.VarSigma), 0.25); // of Sigma 0.5 and 1.5, each average over 500
  for (int g = 1; g <= 5; ++g) EXPECT_DOUBLE_EQ(double(s.Twealth[g]), 0.2);
  T.Wealth.fill(0);
  ComputeStatistics(sim);
  for (int g = 1; g <= 5; ++g) EXPECT_EQ(s.Twealth[g], 0.0L); // not NaN
}

// Price 10, P+D 11, previous price 9.5; every trader holds 1 share, wealth 110, forecast 10.5.
class MarketTest : public ::testing::Test, public RunFolder {
protected:
  void SetUp() override {
    Params& P = sim.P;
    std::tie(P.H0, P.M0, P.Irate, P.MaxExp, P.G_Gap) = std::tuple(1, 100, 0.01, 10, 5);
    std::tie(P.Lambda, P.Theta1, P.Theta2, P.Theta3) = std::tuple(0.5, 0.1, 0.5, 0.3);
    std::tie(sim.R.RunGen, M.PriceLag[1], M.PriceLag[2], M.PDLag[1]) = std::tuple(1, 10, 9.5, 11);
    for (int k = 0; k < 10; ++k) sim.R.DimA[102 + k] = 10 + k;
    T.Shares.fill(1); // held and desired
    for (int i = 501; i <= 1000; ++i) std::tie(T.Wealth[i], T.Forecast[i]) = std::pair(110, 10.5);
    WriteText(dir / "run/Dstar.txt", "0.25\r\n0.5\r\n");
  }
  double& Desired(int i) { return T.Shares[i]; } // what was obtained, after the clearing
  TraderBook& T = sim.T;
  MarketState& M = sim.M;
};

TEST_F(MarketTest, InitTradersAndUpdateWealth) {
  InitTraders(sim); // LastGapProfit 5 (0.01 * 100 + 1 / 0.01)
  EXPECT_NEAR((double)T.LastGapProfit[500], 505.0, 1e-9);
  EXPECT_EQ(T.Wealth[1000], 110.0L);
  // Generation 1: 0.01 M0 + H0 (11 - 9.5) = 2.5; later 0.01 * 50 + 3 * 1.5.
  for (auto [gen, wealth, gap] : {std::tuple{1, 112.5, 4.5}, {8, 115.0, 7.0}}) {
    std::tie(sim.R.RunGen, T.Money[7], Desired(7), T.GapProfit[7]) = std::tuple(gen, 50, 3, 2);
    UpdateWealth(sim);
    EXPECT_NEAR((double)T.Wealth[7], wealth, 1e-12) << "generation " << gen;
    EXPECT_NEAR((double)T.GapProfit[7], gap, 1e-12) << "generation " << gen;
  }
  sim.P.Irate = 0; // the holding term then counts 0 rather than dividing by 0
  InitTraders(sim);
  EXPECT_EQ(T.LastGapProfit[1], 0.0L);
}

// Rows: Lambda, Irate, price, v; forecast, demand. Demand (Forecast - (1 + r) P) / (Lambda Sigma)
// and its limits; forecast 11 (1 + 0.1 tanh(0.5 v)) up to |v| <= MaxExp, the sign beyond.
TEST_F(MarketTest, Demand) {
  const double f2 = 11.83775357155134, f10 = 12.099900124688855;
  const std::tuple<const char*, double, double, double, long double, double, double> cases[] = {
      {"Sigma 6.49", 0.5, 0.01, 10, 2, f2, 0.5353797909785903},
      {"Lambda 0, v 0: forecast = (1 + r) P = 11", 0, 0.375, 8, 0, 11, 0},
      {"2.68e-7 is below the tolerance", 1e6, 0.01, 10, 2, f2, 0},
      {"267.7 costs more than 110: cut to 110 / 10", 0.001, 0.01, 10, 2, f2, 11},
      {"wealth -5: no holding (not a short one)", 0.001, 0.01, 10, 2, f2, 0},
      {"price 0: no holding", 0.5, 0.01, 0, 2, f2, 0},
      {"Lambda 0, v = MaxExp: all the wealth buys", 0, 0.01, 10, 10, f10, 11},
      {"Lambda 0, v = -MaxExp: nothing", 0, 0.01, 10, -10, 22 - f10, 0},
      {"v above MaxExp", 0, 0.01, 10, 10.000001L, 12.1, 11},
      {"v far below -MaxExp: forecast below 10.1", 0.5, 0.01, 10, -1e300L, 9.9, 0}};
  T.Wealth[505] = -5; // the fifth row
  int i = 0;
  for (auto [what, lambda, irate, price, v, forecast, demand] : cases) {
    std::tie(sim.P.Lambda, sim.P.Irate, M.PriceLag[1]) = std::tuple(lambda, irate, price);
    EXPECT_NEAR(TraderDemand(sim, ++i, v), demand, 1e-10) << what;
    EXPECT_NEAR((double)T.Forecast[i], forecast, 1e-12) << what;
  }
  std::tie(sim.P.Lambda, sim.P.Theta3) = std::tuple(0.5, 0); // with a flat window: Sigma 0
  for (int k = 102; k <= 111; ++k) sim.R.DimA[k] = 12;
  EXPECT_EQ(TraderDemand(sim, 21, 2.0L), 11.0);
}

// Wishes changed from 1; counts and totals; the price times 1 + tanh(2e-5 (bid - offer)); holdings:
// the short side filled, the long side rationed alike, a remainder below 1e-5 none.
TEST_F(MarketTest, Clearing) {
  using Holdings = std::vector<std::pair<int, double>>;
  using Book = std::tuple<int, int, int, double, double>;
  const double b = 1.999999; // buys 0.999999 of 1 offered
  const std::tuple<Holdings, Book, double, Holdings> cases[] = {
      {{}, {0, 0, 500, 0, 0}, 10, {{1, 1}}},
      {{{1, 5}}, {1, 0, 499, 4, 0}, 10.000799999998293, {{1, 1}}}, // buyers only: no trade
      {{{1, 2}, {2, 0}}, {1, 1, 498, 1, 1}, 10, {{1, 2}, {2, 0}}}, // bid = offer: both filled
      {{{1, 3}, {2, 0.5}}, {1, 1, 498, 2, 0.5}, 10.00029999999991, {{1, 1.5}, {2, 0.5}, {3, 1}}},
      {{{1, 0}, {2, 0}, {3, 2}}, {1, 2, 497, 1, 2}, 9.999800000000003, {{1, 0.5}, {3, 2}}},
      {{{1, 0}, {2, b}}, {1, 1, 498, Round6(b - 1), 1}, 9.9999999998, {{1, 0}, {2, Round6(b)}}}};
  for (const auto& [want, book, price, got] : cases) {
    for (int i = 1; i <= MaxTraders; ++i) Desired(i) = 1;
    for (auto [i, h] : want) Desired(i) = h;
    ClearMarket(sim);
    EXPECT_EQ(std::tuple(M.BuyNo, M.SellNo, M.BeSNo, M.TotalBid, M.TotalOffer), book);
    EXPECT_NEAR((double)M.NewPrice, price, 1e-12);
    for (auto [i, h] : got) EXPECT_EQ(Desired(i), h) << "trader " << i;
  }
}

// Number t of Dstar.txt, or the last; the numbers are read again when size or time change.
TEST_F(MarketTest, DividendFile) {
  const std::string path = dir / "run/Dstar.txt";
  const auto stamp = std::filesystem::last_write_time(path);
  const std::tuple<const char*, int, long double> files[] = {
      {"0.5 ignored\r\n\r\n   \n  0.75\n-1.25\n", 0, 0.75}, // rest of line, blank lines skipped
      {"1.5\n", 0, 1.5},                                    // fewer numbers: the last; a new size
      {"2.5\n", 5, 2.5},                                    // same size, new time
      {"\r\n  \r\n", 5, 0}};                                // no numbers
  for (auto [text, seconds, value] : files) {
    WriteText(path, text);
    std::filesystem::last_write_time(path, stamp + std::chrono::seconds(seconds));
    EXPECT_EQ(DividendAt(sim, 2), value) << text;
  }
  std::filesystem::remove(path);
  EXPECT_TRUE(FailsNaming([&] { DividendAt(sim, 1); }, path)); // a missing file stops the run
}

// A fresh run's population; every trader holds 1 and wants -1 so that each evaluation shows.
struct Population : RunFolder {
  Population(uint32_t seed, int full, int grow) {
    std::tie(sim.P.Full, sim.P.Grow, sim.Rand.Seed) = std::tuple(full, grow, seed);
    for (int i = 1; i <= MaxTraders; ++i) sim.T.Shares[i] = -1, sim.T.Shares[500 + i] = 1;
    InitPopulation(sim, 0);
  }
  std::string Text(int n) { return ReadText(ModelFileName(sim, "T", n)); }
  bool Exists(int n) { return FileExists(ModelFileName(sim, "T", n)); }
  PTreeNode Tree(int n) { return ReadTree(sim, n, nodes, terms); }
  int nodes = 0, terms = 0;
  PTreeNode tree;
};

bool IsFull(const TTreeNode* T, int L) {
  if (!T->Left) return L == 1;
  return IsFull(T->Left.get(), L - 1) && (!T->Right || IsFull(T->Right.get(), L - 1));
}

// Full 10, Grow 90: 1..10 full of depth 2, 11..100 grown to depth 2, 101..110 full of depth 3...
// Full = Grow = 0: a full and a grown tree per depth (seed 36's texts by hand). Full 20, Grow 90:
// depth 6 makes 441..550, saved but given to no trader.
TEST(InitPopulation, RampsOverTheDepthsWhateverTheCounts) {
  Population run(4242, 10, 90), zero(36, 0, 0), over(7, 20, 90);
  for (int n = 1; n <= 500; ++n) {
    SCOPED_TRACE(n);
    const int L = 2 + (n - 1) / 100;
    PTreeNode T = run.Tree(n);
    ASSERT_TRUE(T);
    EXPECT_EQ(std::pair(run.sim.T.ModelDepth[n], run.sim.T.ModelSize[n]),
              std::pair(TreeDepth(T.get()), run.nodes));
    EXPECT_TRUE(((n - 1) % 100 >= 10 || IsFull(T.get(), L)) && run.sim.T.ModelDepth[n] <= L);
    EXPECT_NE(run.sim.T.Shares[n], -1.0) << "not evaluated";
    ASSERT_EQ(over.sim.T.Shares[500 + n], 1.0) << "given a model past the traders";
  }
  const char* texts[] = {"R(-1.73 )R(6.73 )-", "R(8.72 )Y02*", "Y02Y01+X02SQRT-", "X01"};
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(zero.Text(n), texts[n - 1]);
  for (int n = 1; n <= 9; n += 2) EXPECT_TRUE(IsFull(zero.Tree(n).get(), 2 + n / 2)) << n;
  EXPECT_TRUE(!run.Exists(501) && zero.Exists(10) && !zero.Exists(11) && over.Exists(550) &&
              !over.Exists(551));
  std::string warning; // growing without a terminal to choose
  zero.sim.Warn = [&](const std::string& m) { warning += m; };
  BuildSymbolSet(zero.sim.S, {"+"}, {}, {}, {}, {}, "");
  GenGrow(zero.sim, zero.tree, 1, 1);
  EXPECT_EQ(warning, "Data Generate Error !!  It order is 2");
}

} // namespace zupo::test
