#include "market/backup.h"

#include <algorithm>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/ini.h"
#include "core/real6.h"
#include "testutil.h"

namespace zupo::test {

// A run folder and a state where every field of the checkpoint has its own values.
struct Checkpoint : ::testing::Test {
  TempDir dir;
  Simulation sim;
  const std::string backup1 = dir / "run/Backup1.txt", backup11 = dir / "run/Backup11.txt";

  void SetUp() override {
    SetUpRunFolders(sim, dir.Path());
    TraderBook& T = sim.T;
    std::tie(sim.IniFileName, sim.S.NXVar, sim.S.NYVar, sim.R.RunGen, T.CurBase, T.PrevBase) =
        std::tuple(dir / "Zupo.ini", 3, 2, 7, 500, 0);
    for (int k = 1; k <= 3; ++k)
      std::tie(sim.M.PriceLag[k], sim.M.PDLag[k]) = std::tuple(80.123456789L + k, 81.000004L + k);
    for (int k = 1; k <= 2 * MaxTraders; ++k) {
      std::tie(T.Sigma[k], T.Shares[k]) = std::tuple(Round6(k + 0.123456L), k * 0.25 - 100);
      std::tie(T.Money[k], T.Wealth[k]) = std::tuple(k + 0.987654L, 1000 * k + 0.333333L);
      std::tie(T.Forecast[k], T.OrderIdx[k]) = std::tuple(-(k + 0.555557L), (k * 7) % 500 + 1);
      if (k > MaxTraders) continue;
      std::tie(T.Profit[k], T.ModelDepth[k], T.ModelSize[k]) =
          std::tuple(-(k + 0.5L), k % 17, k % 101 + 1);
      std::tie(T.GapProfit[k], T.LastGapProfit[k]) = std::tuple(k * 0.125L - 30, -k * 1024.5L);
    }
    std::tie(sim.M.NewPrice, sim.M.Dividend) = std::tuple(123456.12345L, 0.5L); // all 12 columns
    for (int k = 1; k <= DimLen; ++k)
      std::tie(sim.R.DimA[k], sim.R.DimB[k], sim.R.DimC[k]) =
          std::tuple(Round6(k / 3.0L), Round6(-k * 1e-7L), Round6(k * 12345.678L));
    std::tie(sim.M.BuyNo, sim.M.SellNo, sim.M.BeSNo, sim.R.MsgCount) = std::tuple(123, 45, 332, 17);
    std::tie(sim.M.TotalBid, sim.M.TotalOffer) = std::tuple(Round6(1234.5678L), Round6(0.1L));
    sim.St = {3.25, 12.75, 1.5L,  80.25L,  0.1L,      0.25,
              4.5,  0.75,  2.125, 0.0625L, 125250.5L, {0, 0.11L, 0.22L, 0.33L, 0.2L, 0.14L}};
    std::tie(sim.R.SucceedNo, sim.R.MartingaleNo, sim.R.VisitGenNo, sim.R.VisitLibNo) =
        std::tuple(5, 123, 7, 9);
  }
  void Resume(Simulation& back, int gen) { // a second run in the folder resumes at gen
    std::tie(back.P, back.S, back.IniFileName, back.R.RunGen) =
        std::tuple(sim.P, sim.S, sim.IniFileName, gen);
    RestoreBackup(back);
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
  Simulation back;
  Resume(back, 7);
  EXPECT_EQ(back.R.ExtraVals[1], 30.0); // generation 8 reads line 8, that is line 3 of five
  EXPECT_EQ(BackupText(back), ReadText(backup1)); // every field comes back as it was written
  auto dec = [](int k, const char* digits) { return std::stold(std::to_string(k) + digits); };
  for (int k = 1; k <= 2 * MaxTraders; ++k) { // 12.5 fields rounded; 6-byte ones then Round6
    ASSERT_EQ(back.T.Sigma[k], Round6(dec(k, ".12346"))) << k;
    ASSERT_EQ(back.T.Money[k], dec(k, ".98765")) << k;
    ASSERT_EQ(back.T.Forecast[k], -dec(k, ".55556")) << k;
  }
  // Default notation keeps 15 significant digits: these come back exactly.
  EXPECT_EQ(std::tuple(back.T.GapProfit, back.T.LastGapProfit, back.St.AveHi, back.M.NewPrice),
            std::tuple(sim.T.GapProfit, sim.T.LastGapProfit, 1.5L, 123456.12345L));
}

TEST_F(Checkpoint, WrittenOnceForEachGenerationMatchedExactlyAndSafeFromAKill) {
  sim.R.RunGen = 12;
  SaveBackup(sim);
  const std::string twelve = ReadText(backup1);
  std::tie(sim.R.RunGen, sim.M.NewPrice) = std::tuple(1, 81); // "GEN=12" is not generation 1
  SaveBackup(sim);
  EXPECT_EQ(std::tuple(BackupGeneration(backup1), ReadText(backup11), StopNo()),
            std::tuple(1, twelve, "1")); // the previous checkpoint is kept unchanged
  const std::string one = ReadText(backup1);
  sim.M.NewPrice = 1; // changed state, same generation: the checkpoint stays
  SaveBackup(sim);
  EXPECT_EQ(std::tuple(ReadText(backup1), ReadText(backup11)), std::tuple(one, twelve));
  // A kill in the message pump, between rotation and rename, leaves generation 2 as ".tmp".
  std::tie(sim.Pump, sim.R.RunGen) = std::tuple([] { throw std::runtime_error("killed"); }, 2);
  EXPECT_THROW(SaveBackup(sim), std::runtime_error);
  EXPECT_EQ(std::tuple(BackupGeneration(backup1 + ".tmp"), BackupGeneration(backup1), StopNo()),
            std::tuple(2, 1, "2"));
  Simulation back;
  Resume(back, 1);
  EXPECT_EQ(back.M.NewPrice, 81.0L);
}

TEST_F(Checkpoint, EmptyShortOrBadFileIsNamedAndTheStateUntouched) {
  SaveBackup(sim);
  const std::string good = ReadText(backup1);
  const std::pair<std::string, std::string> edits[] = {
      {good, ""},                            // empty
      {good.substr(good.size() / 2), ""},    // cut short
      {"    81.12346", "    81.1x346"},      // not a number
      {"\r\n1\r\n8\r\n", "\r\n0\r\n8\r\n"}}; // a trader number out of range
  for (const auto& [from, to] : edits) {
    std::string bad = good;
    WriteText(backup1, bad.replace(bad.find(from), from.size(), to));
    Simulation back;
    std::tie(back.M.NewPrice, back.T.Money[1]) = std::tuple(42, 42);
    try {
      Resume(back, 7);
      ADD_FAILURE() << "accepted with " << to;
    } catch (const RunError& e) {
      EXPECT_NE(std::string(e.what()).find("Backup1.txt"), std::string::npos) << e.what();
    }
    EXPECT_EQ(std::tuple(back.M.NewPrice, back.T.Money[1]), std::tuple(42.0L, 42.0L));
  }
}

} // namespace zupo::test
