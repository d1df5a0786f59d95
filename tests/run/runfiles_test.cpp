// The run's configuration and files.
#include "run/runfiles.h"

#include <gtest/gtest.h>
#include <tuple>

#include "model/modelfile.h"
#include "run/config.h"
#include "testutil.h"

namespace zupo::test {

const std::string kIni =
    "[Stock_Market]\r\nH0=1\r\nM0=100\r\nIrate=1E-3\r\nBeta=-3\r\n[Traders]\r\nFull=10\r\n"
    "Grow=90\r\nReproduct=200\r\nMutation=150\r\nMutProb=0.05\r\nDepthLimit=260\r\n"
    "LeaveProb=30\r\nMaxExp=10\r\nMutMode=256\r\nG_Gap=5\r\nLibraryProb=50\r\nLambda=0.5\r\n"
    "Theta1=0.2\r\nTheta2=0.75\r\nTheta3=0.01\r\nTryNo=200\r\nGen_No=1200\r\n[Common]\r\n"
    "BinarySet=+\\-\\*\\%\\\r\nUnarySet=sin\\cos\\exp\\log\r\nX_Var=xp1\\xp2\\\r\nY_Var=\r\n"
    "Extra_Var= abcde\\\r\nConst_Item=abc\r\nData_File=data\\Data.txt\r\nTree_Path1=run\\\r\n"
    "Tree_Path2=lib\\m\r\nStop_No=0\r\nDo_Dim=257\r\nDimA_File=\r\nDimC_File=Not_Found\r\n";

TEST(Config, ReadsTheIniAndNamesFileSectionKeyAndValueOfErrors) {
  TempDir dir;
  const std::string ini = dir / "Zupo.ini";
  Simulation sim;
  WriteText(ini, kIni);
  std::vector<std::string> warnings;
  sim.Warn = [&](const std::string& m) { warnings.push_back(m); };
  GetEnv(sim, ini);
  EXPECT_EQ(std::tuple(sim.P.DepthLimit, sim.P.MutMode, sim.P.TryNo),
            std::tuple(4, 0, 200)); // 8-bit fields keep the low 8 bits
  // Kept as read, with a warning each: the model files could not read "ABCD" back.
  EXPECT_EQ(warnings, (std::vector<std::string>{
                          ini + " [Traders] DepthLimit: 260 is above 255; it is kept modulo 256, "
                                "as 4",
                          ini + " [Common] Extra_Var: \"ABCD\" is not a symbol the program "
                                "knows; it evaluates to 0"}));
  EXPECT_EQ(sim.S.SymTab[11], "A");
  ReadRunKeys(sim, ini); // file names are resolved against the ini's folder
  EXPECT_EQ(sim.P.Data_File, dir / "data/Data.txt");
  EXPECT_EQ(ModelFileName(sim, "T", 7), dir / "run/0/T0007.dat");

  auto setKey = [&](const std::string& key, const char* value) { // nullptr: the line removed
    std::string text = kIni, line = key + "=";
    size_t at = text.find("\n" + line) + 1;
    text.replace(at, text.find('\n', at) + 1 - at, value ? line + value + "\r\n" : "");
    WriteText(ini, text);
  };
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"LibraryProb", "0.5", " [Traders] LibraryProb: \"0.5\" is not a valid integer"},
      {"H0", "1,5", " [Stock_Market] H0: \"1,5\" is not a valid number"},
      {"H0", "1e39", " [Stock_Market] H0: \"1e39\" is out of range"},
      {"Full", "3000000000", " [Traders] Full: \"3000000000\" is not a valid integer"},
      {"Beta", nullptr, " [Stock_Market] Beta: the key is missing or empty"}};
  for (const auto& [key, value, msg] : cases) {
    setKey(key, value);
    EXPECT_TRUE(FailsNaming([&] { GetEnv(sim, ini); }, ini + msg)) << msg;
  }
  // 256 is above 255 too (held as 0); 255 is kept as it is, without a word.
  for (const char* depth : {"256", "255"}) {
    setKey("DepthLimit", depth);
    warnings.clear();
    GetEnv(sim, ini);
    EXPECT_EQ(warnings.size(), depth[2] == '6' ? 2u : 1u) << depth;
  }
}

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
