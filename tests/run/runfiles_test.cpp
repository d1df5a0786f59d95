#include "run/runfiles.h"

#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/real6.h"
#include "testutil.h"

namespace zupo::test {

TEST(RunFiles, HeaderDataFileAndWindowFilesInFixedFields) {
  EXPECT_EQ( // 298 characters, then CR LF
      Data1Header(),
      "GEN          P(t+1)    D(t+1) BuyNo SellNo BeSNo     TotalBid  TotalOffer Twealth1  "
      "Twealth2  Twealth3  Twealth4  Twealth5  AveDepth    AveNode   AveHi      AveVijs       "
      "AveSigma    VarDepth     VarNode    VarHi        VarVijs        VarSigma    SucceedNo  "
      "   MartingaleNo  VisitGenNo   VisitLibNo\r\n");
  TempDir dir;
  Simulation sim, back;
  std::tie(sim.S.NXVar, sim.S.NYVar, sim.P.Data_File) = std::tuple(2, 1, dir / "Lags.txt");
  auto [x1, x2, y1] = std::tie(sim.M.PriceLag[1], sim.M.PriceLag[2], sim.M.PDLag[1]);
  std::tie(x1, x2, y1) = std::tuple(80.5L, 1234.5L, -3.25L); // 1234.5 is wider than the field
  WriteText(sim.P.Data_File, std::string(200, 'x'));         // a longer older file is cut
  WriteDataFile(sim);
  EXPECT_EQ(ReadText(sim.P.Data_File), " 80.500  1234.500  \r\n -3.250  ");
  WriteText(sim.P.Data_File, "  80.123456\t81 99 extra\n\n  -2.5e1 7"); // rest of line 1 skipped
  ReadDataFile(sim);
  EXPECT_EQ(std::tuple(x1, x2, y1), std::tuple(80.123456L, 81.0L, -25.0L));
  std::tie(sim.P.DimA_File, sim.P.DimB_File, sim.P.DimC_File) =
      std::tuple(dir / "DimA.txt", dir / "DimB.txt", dir / "DimC.txt");
  for (int k = 1; k <= DimLen; ++k) sim.R.DimB[k] = Round6(k / 3.0L);
  WriteWindowFiles(sim);
  back.P = sim.P;
  ReadWindowFiles(back);
  EXPECT_EQ(back.R.DimB, sim.R.DimB); // 15 digits, then Round6: a 6-byte value comes back
  WriteText(sim.P.DimC_File, "1\r\n2\r\n");
  EXPECT_THROW(ReadWindowFiles(back), RunError);
}

// Resume: rows and dump blocks written after the checkpoint are cut, and only those.
TEST(RunFiles, CutBackRemovesRowsAndBlocksPastTheGeneration) {
  TempDir dir;
  Simulation sim;
  SetUpRunFolders(sim, dir.Path());
  const std::string data1 = RunFile(sim, "Data1.txt"), data2 = RunFile(sim, "Data2.txt");
  auto files = [&] { return std::tuple(ReadText(data1), ReadText(data2)); };
  auto block = [](int g) { return "Generation:" + std::to_string(g) + "\r\n 1.0 X01\r\n"; };
  const std::string h = Data1Header(), r1 = "    1 80.0\r\n", r2 = "    2 80.0\r\n";
  const std::string r12 = "   12 80.0\r\n"; // past 1, whatever its first digit
  WriteText(data1, h + r1 + r2 + r12 + "100000 80.0\r\n");
  WriteText(data2, block(1) + block(500) + block(1000) + block(1500));
  CutBackRunFiles(sim, 1000);
  EXPECT_EQ(files(), std::tuple(h + r1 + r2 + r12, block(1) + block(500) + block(1000)));
  CutBackRunFiles(sim, 1);
  EXPECT_EQ(files(), std::tuple(h + r1, block(1)));
  WriteText(data1, h + r1 + "    3 80.0"); // the tails of an interrupted write
  WriteText(data2, block(1) + " 1.0");
  CutBackRunFiles(sim, 5);
  EXPECT_EQ(files(), std::tuple(h + r1, block(1)));
}

} // namespace zupo::test
