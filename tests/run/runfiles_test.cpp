#include "run/runfiles.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/real6.h"
#include "testutil.h"

namespace zupo {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

void ExpectErrorNaming(const std::function<void()>& f, const std::string& name) {
  try {
    f();
    ADD_FAILURE() << "no error";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
  }
}

TEST(RunFiles, HeaderIsTheSevenPiecesThenCrLf) {
  EXPECT_EQ(
      Data1Header(),
      "GEN          P(t+1)    D(t+1) BuyNo SellNo BeSNo     TotalBid  TotalOffer Twealth1  "
      "Twealth2  Twealth3  Twealth4  Twealth5  AveDepth    AveNode   AveHi      AveVijs       "
      "AveSigma    VarDepth     VarNode    VarHi        VarVijs        VarSigma    SucceedNo  "
      "   MartingaleNo  VisitGenNo   VisitLibNo\r\n");
  EXPECT_EQ(Data1Header().size(), 298u + 2u);
}

TEST(RunFiles, DataFileWrittenInFixedFieldsAndReadFreely) {
  TempDir dir;
  Simulation sim;
  sim.S.NXVar = 2;
  sim.S.NYVar = 1;
  sim.P.Data_File = dir / "Lags.txt";
  sim.M.PriceLag[1] = 80.5L;
  sim.M.PriceLag[2] = 1234.5L; // wider than the 7-character field
  sim.M.PDLag[1] = -3.25L;
  WriteText(sim.P.Data_File, std::string(200, 'x')); // a longer older file is cut
  WriteDataFile(sim);
  EXPECT_EQ(ReadText(sim.P.Data_File), " 80.500  1234.500  \r\n -3.250  ");
  // Any spacing and precision; the rest of line 1 is skipped.
  WriteText(sim.P.Data_File, "  80.123456\t81 99 extra\n\n  -2.5e1 7");
  ReadDataFile(sim);
  EXPECT_EQ(sim.M.PriceLag[1], 80.123456L);
  EXPECT_EQ(sim.M.PriceLag[2], 81.0L);
  EXPECT_EQ(sim.M.PDLag[1], -25.0L);
  WriteText(sim.P.Data_File, "80.5 81\r\n");
  ExpectErrorNaming([&] { ReadDataFile(sim); }, "Lags.txt");
}

TEST(RunFiles, WindowFilesOfOneHundredElevenLines) {
  std::array<double, DimLen + 1> w{};
  for (int k = 1; k <= DimLen; ++k) w[k] = k;
  w[1] = 1.5;
  w[2] = -0.00025;
  std::string text = WindowFileText(w);
  ASSERT_EQ(text.size(), 111u * 25u);
  EXPECT_EQ(text.substr(0, 50), " 1.50000000000000E+0000\r\n-2.50000000000000E-0004\r\n");
  EXPECT_EQ(text.substr(110 * 25), " 1.11000000000000E+0002\r\n");
}

TEST(RunFiles, WindowFilesReadRoundedAndRewrittenWhenNamed) {
  TempDir dir;
  Simulation sim;
  sim.P.DimA_File = dir / "DimA.txt";
  sim.P.DimB_File = dir / "DimB.txt";
  sim.P.DimC_File = dir / "DimC.txt";
  std::string a, c;
  for (int k = 1; k <= DimLen; ++k) {
    a += std::to_string(k) + ".1 ignored\r\n";
    c += "0.1\n";
  }
  WriteText(sim.P.DimA_File, a);
  WriteText(sim.P.DimB_File, c);
  WriteText(sim.P.DimC_File, c);
  ReadWindowFiles(sim);
  EXPECT_EQ(sim.R.DimA[111], Round6(111.1L));
  EXPECT_EQ(sim.R.DimC[111], Round6(0.1L));
  EXPECT_NE(sim.R.DimC[111], 0.1); // a double 0.1 has more than 40 significant bits
  sim.P.DimB_File.clear();
  sim.R.DimA[5] = Round6(1 / 3.0L);
  WriteWindowFiles(sim);
  EXPECT_EQ(ReadText(dir / "DimB.txt"), c); // no name: left alone
  ExpectErrorNaming([&] { ReadWindowFiles(sim); }, "DimB_File");
  sim.P.DimB_File = dir / "DimA.txt";
  Simulation back;
  back.P = sim.P;
  ReadWindowFiles(back);
  EXPECT_EQ(back.R.DimA, sim.R.DimA); // 15 digits bring a 6-byte value back exactly
  WriteText(sim.P.DimC_File, "1\r\n2\r\n");
  ExpectErrorNaming([&] { ReadWindowFiles(back); }, "DimC.txt");
}

TEST(RunFiles, ModelFoldersTenForEachPrefixExistingOnesLeftAlone) {
  TempDir dir;
  Simulation sim;
  sim.P.Tree_Path1 = dir / "run";
  sim.P.Tree_Path2 = dir / "lib/"; // a prefix ending in a separator: subfolders 0..9
  std::filesystem::create_directories(dir / "run3");
  WriteText(dir / "run3/T0300.dat", "X01");
  int pumps = 0;
  sim.Pump = [&] { ++pumps; };
  CreateModelFolders(sim);
  for (char d = '0'; d <= '9'; ++d) {
    EXPECT_TRUE(std::filesystem::is_directory(dir / (std::string("run") + d)));
    EXPECT_TRUE(std::filesystem::is_directory(dir / (std::string("lib/") + d)));
  }
  EXPECT_EQ(ReadText(dir / "run3/T0300.dat"), "X01");
  EXPECT_EQ(pumps, 10);
  EXPECT_EQ(RunFile(sim, "Data1.txt"), dir / "run/Data1.txt");
  sim.P.Tree_Path1 += "/";
  EXPECT_EQ(RunFile(sim, "Gen12"), dir / "run/Gen12");
}

// Resume: rows and dump blocks written after the checkpoint are cut, and only those.
struct CutBack : ::testing::Test {
  TempDir dir;
  Simulation sim;
  std::string data1, data2;
  void SetUp() override {
    test::SetUpRunFolders(sim, dir.Path());
    data1 = RunFile(sim, "Data1.txt");
    data2 = RunFile(sim, "Data2.txt");
  }
  static std::string Rows(std::initializer_list<int> gens) {
    std::string s = Data1Header();
    for (int g : gens) {
      std::string n = std::to_string(g);
      s += std::string(n.size() < 5 ? 5 - n.size() : 0, ' ') + n + "        80.00000   0.50\r\n";
    }
    return s;
  }
  static std::string Block(int g, int lines) {
    std::string s = "Generation:" + std::to_string(g) + "\r\n";
    for (int i = 1; i <= lines; ++i) s += "        1.00000     2.00000   X01Y02+\r\n";
    return s;
  }
};

TEST_F(CutBack, RemovesRowsAndBlocksPastTheGeneration) {
  WriteText(data1, Rows({1, 2, 3, 12, 100000}));
  WriteText(data2, Block(1, 500) + Block(500, 500) + Block(1000, 500) + Block(1500, 120));
  CutBackRunFiles(sim, 1000);
  EXPECT_EQ(ReadText(data1), Rows({1, 2, 3, 12}));
  EXPECT_EQ(ReadText(data2), Block(1, 500) + Block(500, 500) + Block(1000, 500));
  CutBackRunFiles(sim, 1); // 12 is past 1, whatever its first digit
  EXPECT_EQ(ReadText(data1), Rows({1}));
  EXPECT_EQ(ReadText(data2), Block(1, 500));
}

TEST_F(CutBack, DropsTheUnterminatedTailOfAnInterruptedWrite) {
  WriteText(data1, Rows({1, 2}) + "    3      80.0");
  WriteText(data2, Block(1, 2) + "        1.00");
  CutBackRunFiles(sim, 5);
  EXPECT_EQ(ReadText(data1), Rows({1, 2}));
  EXPECT_EQ(ReadText(data2), Block(1, 2));
  std::filesystem::remove(data2);
  ExpectErrorNaming([&] { CutBackRunFiles(sim, 4); }, "Data2.txt");
}

} // namespace
} // namespace zupo
