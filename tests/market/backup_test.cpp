#include "market/backup.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <tuple>

#include "core/errors.h"
#include "core/ini.h"
#include "core/real6.h"
#include "core/textio.h"
#include "testutil.h"

namespace zupo {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

long double Dec(const std::string& s) {
  long double v = 0;
  if (!ParseReal(s, v)) throw std::runtime_error("bad test number " + s);
  return v;
}
std::string K(int k) {
  return std::to_string(k);
}

// A run folder with a configuration file and a state where every field has its own values.
struct Checkpoint : ::testing::Test {
  TempDir dir;
  Simulation sim;
  std::string backup1, backup11;

  void SetUp() override {
    test::SetUpRunFolders(sim, dir.Path());
    sim.IniFileName = dir / "Zupo.ini";
    WriteText(sim.IniFileName, "[Common]\r\nStop_No=0\r\n");
    backup1 = dir / "run/Backup1.txt";
    backup11 = dir / "run/Backup11.txt";
    Fill(sim, 7);
  }

  static void Fill(Simulation& s, int gen) {
    s.S.NXVar = 3;
    s.S.NYVar = 2;
    s.R.RunGen = gen;
    TraderBook& T = s.T;
    T.CurBase = 500;
    T.PrevBase = 0;
    for (int k = 1; k <= 3; ++k) s.M.PriceLag[k] = 80 + k + 0.123456789L;
    for (int k = 1; k <= 2; ++k) s.M.PDLag[k] = 81 + k + 0.000004L;
    for (int k = 1; k <= 2 * MaxTraders; ++k) {
      T.Sigma[k] = Round6(k + 0.123456L);
      T.Shares[k] = Round6(k * 0.25L - 100);
      T.Money[k] = k + 0.987654L;
      T.Wealth[k] = 1000 * k + 0.333333L;
      T.Forecast[k] = -(k + 0.555557L);
      T.OrderIdx[k] = (k * 7) % 500 + 1;
    }
    for (int k = 1; k <= MaxTraders; ++k) {
      T.Profit[k] = -(k + 0.5L);
      T.ModelDepth[k] = k % 17;
      T.ModelSize[k] = k % 101 + 1;
      T.GapProfit[k] = k * 0.125L - 30;
      T.LastGapProfit[k] = -k * 1024.5L;
      T.ModelValue[k] = 3; // not part of the checkpoint
    }
    s.M.NewPrice = 123456.12345L; // fills all 12 columns
    s.M.Dividend = 0.5L;
    for (int k = 1; k <= DimLen; ++k) {
      s.R.DimA[k] = Round6(k / 3.0L);
      s.R.DimB[k] = Round6(-k * 1e-7L);
      s.R.DimC[k] = Round6(k * 12345.678L);
    }
    std::tie(s.M.BuyNo, s.M.SellNo, s.M.BeSNo, s.R.MsgCount) = std::tuple(123, 45, 332, 17);
    s.M.TotalBid = Round6(1234.5678L);
    s.M.TotalOffer = Round6(0.1L);
    // AveDepth, AveNode, AveHi, AveVijs, AveSigma, VarDepth, VarNode, VarHi, VarVijs, VarSigma,
    // TotalWealth, Twealth.
    s.St = {Round6(3.3L), Round6(12.7L), 1.5L,         80.25L,
            0.1L,         Round6(0.21L), Round6(4.4L), Round6(0.75L),
            Round6(2.1L), 0.0625L,       125250.5L,    {0, 0.11L, 0.22L, 0.33L, 0.2L, 0.14L}};
    std::tie(s.R.SucceedNo, s.R.MartingaleNo, s.R.VisitGenNo, s.R.VisitLibNo) =
        std::tuple(5, 123, 7, 9);
  }

  // A second run in the same folder, about to resume at generation gen.
  void Resume(Simulation& back, int gen) {
    back.P = sim.P;
    back.S = sim.S;
    back.IniFileName = sim.IniFileName;
    back.R.RunGen = gen;
    RestoreBackup(back);
  }

  std::string StopNo() { return IniRead(sim.IniFileName, "Common", "Stop_No", "?"); }

  void ExpectErrorNaming(const std::string& name) {
    Simulation back;
    back.M.NewPrice = 42;
    try {
      Resume(back, 7);
      ADD_FAILURE() << "the checkpoint was accepted";
    } catch (const RunError& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
    EXPECT_EQ(back.M.NewPrice, 42.0L);
  }
};

TEST_F(Checkpoint, FileLayout) {
  std::string text = BackupText(sim);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8840 + 3 + 2);
  EXPECT_EQ(text.substr(0, 30), "GEN=7  First=0  Second=500\r\n  ");
  EXPECT_EQ(text.substr(28, 28), "    81.12346\r\n    82.12346\r\n");
  // NewPrice and Dividend touch; then the halves.
  EXPECT_NE(text.find("\r\n123456.12345     0.50000\r\n0 500\r\n 3.33333333333485E-0001\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\n123 45 332 17  1.23456780000031E+0003  1.00000000000023E-0001\r\n"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 60),
            "2.09999999999854E+0000  6.25000000000000E-0002 5 123   7 9\r\n");
}

TEST_F(Checkpoint, RoundTripRestoresEveryField) {
  sim.T.Sigma[1] = Round6(0.000004L); // below 0.000005: restored as 0
  sim.T.Shares[2] = Round6(-0.0000049L);
  sim.T.Money[3] = 0.000004L;
  SaveBackup(sim);
  Simulation back;
  Resume(back, 7);
  const TraderBook& T = back.T;
  const TraderBook& S = sim.T;
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(back.M.PriceLag[k], Dec(K(80 + k) + ".12346"));
  for (int k = 1; k <= 2; ++k) EXPECT_EQ(back.M.PDLag[k], Dec(K(81 + k) + ".00000"));
  EXPECT_EQ(std::tuple(T.Sigma[1], T.Shares[2], T.Money[3]), std::tuple(0.0, 0.0, 0.0L));
  for (int k = 4; k <= 2 * MaxTraders; ++k) {
    ASSERT_EQ(T.Sigma[k], Round6(Dec(K(k) + ".12346"))) << k;
    ASSERT_EQ(T.Shares[k], S.Shares[k]) << k; // quarters: exact in 5 decimals
    ASSERT_EQ(T.Money[k], Dec(K(k) + ".98765")) << k;
    ASSERT_EQ(T.Wealth[k], Dec(K(1000 * k) + ".33333")) << k;
    ASSERT_EQ(T.Forecast[k], -Dec(K(k) + ".55556")) << k;
  }
  EXPECT_EQ(T.OrderIdx, S.OrderIdx);
  EXPECT_EQ(T.Profit, S.Profit);
  EXPECT_EQ(T.ModelDepth, S.ModelDepth);
  EXPECT_EQ(T.ModelSize, S.ModelSize);
  // Default notation keeps 15 significant digits: these come back exactly.
  EXPECT_EQ(T.GapProfit, S.GapProfit);
  EXPECT_EQ(T.LastGapProfit, S.LastGapProfit);
  EXPECT_EQ(std::tuple(back.M.NewPrice, back.M.Dividend), std::tuple(123456.12345L, 0.5L));
  EXPECT_EQ(std::tuple(T.PrevBase, T.CurBase), std::tuple(0, 500));
  EXPECT_EQ(std::tuple(back.R.DimA, back.R.DimB, back.R.DimC),
            std::tuple(sim.R.DimA, sim.R.DimB, sim.R.DimC));
  EXPECT_EQ(std::tuple(back.M.BuyNo, back.M.SellNo, back.M.BeSNo, back.R.MsgCount),
            std::tuple(123, 45, 332, 17));
  EXPECT_EQ(std::tuple(back.M.TotalBid, back.M.TotalOffer),
            std::tuple(sim.M.TotalBid, sim.M.TotalOffer));
  const Statistics& a = back.St;
  const Statistics& b = sim.St;
  EXPECT_EQ(std::tuple(a.TotalWealth, a.Twealth, a.AveHi, a.AveVijs, a.AveSigma, a.VarSigma),
            std::tuple(125250.5L, b.Twealth, 1.5L, 80.25L, 0.1L, 0.0625L));
  EXPECT_EQ(std::tuple(a.AveDepth, a.AveNode, a.VarDepth, a.VarNode, a.VarHi, a.VarVijs),
            std::tuple(b.AveDepth, b.AveNode, b.VarDepth, b.VarNode, b.VarHi, b.VarVijs));
  EXPECT_EQ(std::tuple(back.R.SucceedNo, back.R.MartingaleNo, back.R.VisitGenNo, back.R.VisitLibNo),
            std::tuple(5, 123, 7, 9));
  EXPECT_EQ(back.T.ModelValue[1], 0.0L); // not part of the checkpoint
}

TEST_F(Checkpoint, NewPriceAndDividendAreSplitWhateverTheirWidth) {
  struct Case {
    long double price, dividend;
    const char* line;
  };
  const Case cases[] = {{123456.12345L, -0.25L, "123456.12345    -0.25000"},
                        {-12345.6789L, 99999.5L, "-12345.67890 99999.50000"},
                        {1234567.5L, 7654321.25L, "1234567.500007654321.25000"}};
  for (const Case& c : cases) {
    sim.M.NewPrice = c.price;
    sim.M.Dividend = c.dividend;
    sim.R.RunGen += 1;
    SaveBackup(sim);
    EXPECT_NE(ReadText(backup1).find(std::string("\r\n") + c.line + "\r\n"), std::string::npos);
    Simulation back;
    Resume(back, sim.R.RunGen);
    EXPECT_EQ(back.M.NewPrice, c.price == -12345.6789L ? -12345.6789L : c.price) << c.line;
    EXPECT_EQ(back.M.Dividend, c.dividend) << c.line;
  }
}

TEST(BackupGenerationOf, FirstLineNumberMatchedWhole) {
  TempDir dir;
  const std::string f = dir / "B.txt";
  EXPECT_EQ(BackupGeneration(f), -1);
  const std::pair<const char*, int> cases[] = {
      {"GEN=12  First=500  Second=0\r\n    80.00000\r\n", 12},
      {"GEN=1\r\n", 1},
      {"GEN=12x  First=500\r\n", -1},
      {"GEN=\r\n", -1},
      {"Gen=3\r\n", -1},
      {"GEN=99999999999  First=0\r\n", -1},
  };
  for (const auto& [text, gen] : cases) {
    WriteText(f, text);
    EXPECT_EQ(BackupGeneration(f), gen) << text;
  }
}

TEST_F(Checkpoint, OlderCheckpointOfGenerationTwelveDoesNotStopGenerationOne) {
  sim.R.RunGen = 12;
  SaveBackup(sim);
  const std::string old = ReadText(backup1);
  sim.R.RunGen = 1;
  SaveBackup(sim);
  EXPECT_EQ(BackupGeneration(backup1), 1);
  EXPECT_EQ(ReadText(backup11), old);
  EXPECT_EQ(StopNo(), "1");
}

TEST_F(Checkpoint, SameGenerationTwiceWritesOnce) {
  sim.R.RunGen = 4;
  SaveBackup(sim);
  sim.R.RunGen = 5;
  SaveBackup(sim);
  const std::string five = ReadText(backup1);
  const std::string four = ReadText(backup11);
  sim.M.NewPrice = 1; // changed state, same generation: the checkpoint stays
  SaveBackup(sim);
  EXPECT_EQ(ReadText(backup1), five);
  EXPECT_EQ(ReadText(backup11), four);
  EXPECT_EQ(StopNo(), "5");
}

TEST_F(Checkpoint, PreviousCheckpointIsKeptUnchanged) {
  int pumps = 0;
  sim.Pump = [&] { ++pumps; };
  for (int g = 5; g <= 7; ++g) {
    const std::string before = std::filesystem::exists(backup1) ? ReadText(backup1) : "";
    sim.R.RunGen = g;
    sim.M.NewPrice = 80 + g;
    SaveBackup(sim);
    // The first checkpoint has nothing to rotate; every later one keeps the one before.
    EXPECT_EQ(std::filesystem::exists(backup11) ? ReadText(backup11) : "", before) << g;
  }
  EXPECT_EQ(BackupGeneration(backup11), 6);
  EXPECT_EQ(BackupGeneration(backup1), 7);
  EXPECT_EQ(pumps, 4);
  Simulation back;
  Resume(back, 7);
  EXPECT_EQ(back.M.NewPrice, 87.0L);
}

TEST_F(Checkpoint, KillAfterTheNewFileIsWrittenStillResumes) {
  SaveBackup(sim); // generation 7
  // The window's message pump runs between the rotation and the rename; a kill there leaves
  // generation 8's file under its temporary name.
  sim.Pump = [] { throw std::runtime_error("killed"); };
  sim.R.RunGen = 8;
  sim.M.NewPrice = 1;
  EXPECT_THROW(SaveBackup(sim), std::runtime_error);
  EXPECT_EQ(BackupGeneration(backup1 + ".tmp"), 8);
  EXPECT_EQ(BackupGeneration(backup1), 7);
  EXPECT_EQ(StopNo(), "8");
  Simulation back;
  Resume(back, 7);
  EXPECT_EQ(back.M.NewPrice, 123456.12345L);
  // The next checkpoint takes the leftover temporary name over.
  sim.Pump = nullptr;
  SaveBackup(sim);
  EXPECT_EQ(BackupGeneration(backup1), 8);
  EXPECT_EQ(BackupGeneration(backup11), 7);
  EXPECT_FALSE(std::filesystem::exists(backup1 + ".tmp"));
}

TEST_F(Checkpoint, HalfWrittenTemporaryFileIsIgnoredThenReplaced) {
  sim.R.RunGen = 6;
  SaveBackup(sim);
  sim.R.RunGen = 7;
  SaveBackup(sim);
  WriteText(backup1 + ".tmp", "GEN=9  First=0");
  Simulation back;
  Resume(back, 7);
  EXPECT_EQ(back.M.NewPrice, 123456.12345L);
  sim.R.RunGen = 8;
  SaveBackup(sim);
  EXPECT_EQ(BackupGeneration(backup1), 8);
  EXPECT_EQ(BackupGeneration(backup11), 7);
  // Only the two checkpoints remain in the run folder.
  std::vector<std::string> names;
  for (const auto& f : std::filesystem::directory_iterator(dir / "run"))
    names.push_back(f.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Backup1.txt", "Backup11.txt"}));
}

TEST_F(Checkpoint, MissingShortOrBadFileIsNamed) {
  ExpectErrorNaming("Backup1.txt");
  SaveBackup(sim);
  const std::string good = ReadText(backup1);
  WriteText(backup1, good.substr(0, good.size() / 2));
  ExpectErrorNaming("Backup1.txt");
  std::string bad = good;
  bad.replace(bad.find("    81.12346"), 12, "    81.1x346");
  WriteText(backup1, bad);
  ExpectErrorNaming("Backup1.txt");
  bad = good;
  bad.replace(bad.find("\r\n0 500\r\n"), 9, "\r\n0 0\r\n  ");
  WriteText(backup1, bad);
  ExpectErrorNaming("Backup1.txt");
  bad = good; // a trader number out of range: refused, the state stays as it was
  bad.replace(bad.find("\r\n1\r\n8\r\n"), 8, "\r\n0\r\n8\r\n");
  WriteText(backup1, bad);
  ExpectErrorNaming("Backup1.txt");
}

TEST_F(Checkpoint, RestoreLoadsTheExtraLineOfTheNextGeneration) {
  WriteText(dir / "Extra.txt", "10\r\n20\r\n30\r\n40\r\n50\r\n");
  SaveBackup(sim);
  Simulation back;
  back.P = sim.P;
  back.P.ExData_File = dir / "Extra.txt";
  back.S = sim.S;
  back.S.NExtra = 1;
  back.R.RunGen = 7;
  RestoreBackup(back);
  // Generation 8 of the uninterrupted run read line 8, that is line 3 of five.
  EXPECT_EQ(back.R.ExtraVals[1], 30.0);
}

} // namespace
} // namespace zupo
