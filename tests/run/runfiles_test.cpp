#include "run/runfiles.h"

#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/real6.h"
#include "testutil.h"

namespace zupo::test {

TEST(RunFiles, HeaderDataFileAndWindowFilesInFixedFields) {
  EXPECT_EQ(
      Data1Header(),
      "GEN          P(t+1)    D(t+1) BuyNo SellNo BeSNo     TotalBid  TotalOffer Twealth1  "
      "Twealth2  Twealth3  Twealth4  Twealth5  AveDepth    AveNode   AveHi      AveVijs       "
      "AveSigma    VarDepth     VarNode    VarHi        VarVijs        VarSigma    SucceedNo  "
      "   MartingaleNo  VisitGenNo   VisitLibNo\r\n");
  EXPECT_EQ(Data1Header().size(), 298u + 2u);
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
  std::tie(sim.P.DimA_File, sim.P.DimB_File, sim.P.DimC_File) = // the window files
      std::tuple(dir / "DimA.txt", dir / "DimB.txt", dir / "DimC.txt");
  for (int k = 1; k <= DimLen; ++k)
    std::tie(sim.R.DimA[k], sim.R.DimB[k]) = std::tuple(k, Round6(k / 3.0L));
  std::tie(sim.R.DimA[1], sim.R.DimA[2]) = std::tuple(1.5, -0.00025);
  const std::string text = WindowFileText(sim.R.DimA);
  EXPECT_EQ(text.substr(0, 50), " 1.50000000000000E+0000\r\n-2.50000000000000E-0004\r\n");
  EXPECT_EQ(text.substr(110 * 25), " 1.11000000000000E+0002\r\n"); // line 111 is the last
  WriteWindowFiles(sim);
  std::string tenths;
  for (int k = 1; k <= DimLen; ++k) tenths += "0.1 ignored\n";
  WriteText(sim.P.DimA_File, tenths);
  back.P = sim.P;
  ReadWindowFiles(back);
  // 15 digits bring a 6-byte value back exactly; 0.1 is rounded to 6 bytes (40 bits).
  EXPECT_EQ(std::tuple(back.R.DimA[111], back.R.DimB, back.R.DimC),
            std::tuple(Round6(0.1L), sim.R.DimB, sim.R.DimC));
  WriteText(sim.P.DimC_File, "1\r\n2\r\n");
  EXPECT_THROW(ReadWindowFiles(back), RunError);
}

static std::string Rows(std::initializer_list<const char*> gens) {
  std::string s = Data1Header();
  for (const char* g : gens) s += std::string(g) + "        80.00000   0.50\r\n";
  return s;
}
static std::string Block(int g, int lines) {
  std::string s = "Generation:" + std::to_string(g) + "\r\n";
  for (int i = 1; i <= lines; ++i) s += "        1.00000     2.00000   X01Y02+\r\n";
  return s;
}

// Resume: rows and dump blocks written after the checkpoint are cut, and only those.
TEST(RunFiles, CutBackRemovesRowsAndBlocksPastTheGeneration) {
  TempDir dir;
  Simulation sim;
  SetUpRunFolders(sim, dir.Path());
  const std::string data1 = RunFile(sim, "Data1.txt"), data2 = RunFile(sim, "Data2.txt");
  auto files = [&] { return std::tuple(ReadText(data1), ReadText(data2)); };
  WriteText(data1, Rows({"    1", "    2", "   12", "100000"}));
  WriteText(data2, Block(1, 500) + Block(500, 500) + Block(1000, 500) + Block(1500, 120));
  CutBackRunFiles(sim, 1000);
  EXPECT_EQ(files(), std::tuple(Rows({"    1", "    2", "   12"}),
                                Block(1, 500) + Block(500, 500) + Block(1000, 500)));
  CutBackRunFiles(sim, 1); // 12 is past 1, whatever its first digit
  EXPECT_EQ(files(), std::tuple(Rows({"    1"}), Block(1, 500)));
  WriteText(data1, Rows({"    1"}) + "    3      80.0"); // the tails of an interrupted write
  WriteText(data2, Block(1, 2) + "        1.00");
  CutBackRunFiles(sim, 5);
  EXPECT_EQ(files(), std::tuple(Rows({"    1"}), Block(1, 2)));
}

} // namespace zupo::test
