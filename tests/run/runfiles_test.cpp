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

TEST(RunFilesHeader, IsTheSevenPiecesThenCrLf) {
  const std::string expected =
      "GEN          P(t+1)    D(t+1) BuyNo SellNo BeSNo     TotalBid  TotalOffer Twealth1  "
      "Twealth2  Twealth3  Twealth4  Twealth5  AveDepth    AveNode   AveHi      AveVijs       "
      "AveSigma    VarDepth     VarNode    VarHi        VarVijs        VarSigma    SucceedNo     "
      "MartingaleNo  VisitGenNo   VisitLibNo\r\n";
  EXPECT_EQ(Data1Header(), expected);
  EXPECT_EQ(Data1Header().size(), 298u + 2u);
}

struct DataFiles : ::testing::Test {
  TempDir dir;
  Simulation sim;
  void SetUp() override {
    sim.S.NXVar = 2;
    sim.S.NYVar = 1;
    sim.P.Data_File = dir / "Lags.txt";
  }
};

TEST_F(DataFiles, TwoLinesOfFixedFieldsTheSecondWithoutLineEnd) {
  sim.M.PriceLag[1] = 80.5L;
  sim.M.PriceLag[2] = 1234.5L; // wider than the 7-character field
  sim.M.PDLag[1] = -3.25L;
  EXPECT_EQ(DataFileText(sim), " 80.500  1234.500  \r\n -3.250  ");
  // A longer file from before is cut to the new length.
  WriteText(sim.P.Data_File, std::string(200, 'x'));
  WriteDataFile(sim);
  EXPECT_EQ(ReadText(sim.P.Data_File), " 80.500  1234.500  \r\n -3.250  ");
}

TEST_F(DataFiles, ReadsAnySpacingAndPrecisionAndSkipsTheRestOfLineOne) {
  WriteText(sim.P.Data_File, "  80.123456\t81 99 extra\n\n  -2.5e1 7");
  ReadDataFile(sim);
  EXPECT_EQ(sim.M.PriceLag[1], 80.123456L);
  EXPECT_EQ(sim.M.PriceLag[2], 81.0L);
  EXPECT_EQ(sim.M.PDLag[1], -25.0L);
}

TEST_F(DataFiles, WrittenFileReadsBackAtThreeDecimals) {
  sim.M.PriceLag[1] = 80.12345L;
  sim.M.PriceLag[2] = 79.9996L;
  sim.M.PDLag[1] = 81.0L;
  WriteDataFile(sim);
  Simulation back;
  back.S = sim.S;
  back.P.Data_File = sim.P.Data_File;
  ReadDataFile(back);
  EXPECT_EQ(back.M.PriceLag[1], 80.123L);
  EXPECT_EQ(back.M.PriceLag[2], 80.0L);
  EXPECT_EQ(back.M.PDLag[1], 81.0L);
}

TEST_F(DataFiles, MissingOrShortFileNamesTheFile) {
  EXPECT_THROW(ReadDataFile(sim), RunError);
  WriteText(sim.P.Data_File, "80.5 81\r\n");
  try {
    ReadDataFile(sim);
    FAIL() << "a data file without its second line was accepted";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("Lags.txt"), std::string::npos) << e.what();
  }
}

TEST(WindowFiles, OneHundredElevenScientificLines) {
  std::array<double, DimLen + 1> w{};
  for (int k = 1; k <= DimLen; ++k) w[k] = k;
  w[1] = 1.5;
  w[2] = -0.00025;
  std::string text = WindowFileText(w);
  ASSERT_EQ(text.size(), 111u * 25u);
  EXPECT_EQ(text.substr(0, 50), " 1.50000000000000E+0000\r\n-2.50000000000000E-0004\r\n");
  EXPECT_EQ(text.substr(110 * 25), " 1.11000000000000E+0002\r\n");
}

struct Windows : ::testing::Test {
  TempDir dir;
  Simulation sim;
  void SetUp() override {
    sim.P.DimA_File = dir / "DimA.txt";
    sim.P.DimB_File = dir / "DimB.txt";
    sim.P.DimC_File = dir / "DimC.txt";
  }
};

TEST_F(Windows, ReadOneNumberPerLineRoundedToSixBytes) {
  std::string a, b, c;
  for (int k = 1; k <= DimLen; ++k) {
    a += std::to_string(k) + ".1 ignored\r\n";
    b += "  -" + std::to_string(k) + "\n";
    c += "0.1\r\n";
  }
  WriteText(sim.P.DimA_File, a);
  WriteText(sim.P.DimB_File, b);
  WriteText(sim.P.DimC_File, c);
  ReadWindowFiles(sim);
  EXPECT_EQ(sim.R.DimA[1], Round6(1.1L));
  EXPECT_EQ(sim.R.DimA[111], Round6(111.1L));
  EXPECT_EQ(sim.R.DimB[57], -57.0);
  EXPECT_EQ(sim.R.DimC[111], Round6(0.1L));
  EXPECT_NE(sim.R.DimC[111], 0.1); // a double 0.1 has more than 40 significant bits
}

TEST_F(Windows, WrittenWindowsReadBackExactly) {
  for (int k = 1; k <= DimLen; ++k) {
    sim.R.DimA[k] = Round6(k / 3.0L);
    sim.R.DimB[k] = Round6(-k * 1e-7L);
    sim.R.DimC[k] = Round6(k * 12345.678L);
  }
  WriteWindowFiles(sim);
  Simulation back;
  back.P = sim.P;
  ReadWindowFiles(back);
  EXPECT_EQ(back.R.DimA, sim.R.DimA);
  EXPECT_EQ(back.R.DimB, sim.R.DimB);
  EXPECT_EQ(back.R.DimC, sim.R.DimC);
}

TEST_F(Windows, EmptyNameIsNotWrittenAndCannotBeRead) {
  sim.P.DimB_File.clear();
  WriteWindowFiles(sim);
  EXPECT_TRUE(std::filesystem::exists(sim.P.DimA_File));
  EXPECT_TRUE(std::filesystem::exists(sim.P.DimC_File));
  try {
    ReadWindowFiles(sim);
    FAIL() << "an empty window file name was accepted";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("DimB_File"), std::string::npos) << e.what();
  }
}

TEST_F(Windows, ShortFileNamesTheFile) {
  WriteWindowFiles(sim);
  WriteText(sim.P.DimC_File, "1\r\n2\r\n");
  try {
    ReadWindowFiles(sim);
    FAIL() << "a window file of two lines was accepted";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("DimC.txt"), std::string::npos) << e.what();
  }
}

TEST(ModelFolders, TenForEachPrefixExistingOnesLeftAlone) {
  TempDir dir;
  Simulation sim;
  sim.P.Tree_Path1 = dir / "run";
  sim.P.Tree_Path2 = dir / "lib/"; // a prefix ending in a separator: subfolders 0..9
  std::filesystem::create_directories(dir / "lib");
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
}

TEST(ModelFolders, FolderThatCannotBeCreatedIsAnError) {
  TempDir dir;
  Simulation sim;
  sim.P.Tree_Path1 = dir / "run";
  sim.P.Tree_Path2 = dir / "lib";
  WriteText(dir / "lib4", "a file where a model folder belongs");
  try {
    CreateModelFolders(sim);
    FAIL() << "a file in place of a model folder was accepted";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("lib4"), std::string::npos) << e.what();
  }
}

TEST(RunFileNames, JoinWithOneSeparator) {
  Simulation sim;
  sim.P.Tree_Path1 = "/data/run";
  EXPECT_EQ(RunFile(sim, "Data1.txt"), "/data/run/Data1.txt");
  sim.P.Tree_Path1 = "/data/run/";
  EXPECT_EQ(RunFile(sim, "Gen12"), "/data/run/Gen12");
}

// Resume: rows and dump blocks written after the checkpoint are cut.
struct CutBack : ::testing::Test {
  TempDir dir;
  Simulation sim;
  std::string data1, data2;
  void SetUp() override {
    test::SetUpRunFolders(sim, dir.Path());
    data1 = RunFile(sim, "Data1.txt");
    data2 = RunFile(sim, "Data2.txt");
  }
  static std::string Row(int g) {
    std::string n = std::to_string(g);
    return std::string(5 - n.size(), ' ') + n + "        80.00000   0.50  ...\r\n";
  }
  static std::string Block(int g, int lines) {
    std::string s = "Generation:" + std::to_string(g) + "\r\n";
    for (int i = 1; i <= lines; ++i) s += "        1.00000     2.00000   X01Y02+\r\n";
    return s;
  }
};

TEST_F(CutBack, RemovesRowsAndBlocksPastTheGenerationAndOnlyThose) {
  std::string head = Data1Header();
  WriteText(data1, head + Row(1) + Row(2) + Row(3) + Row(4) + Row(5));
  WriteText(data2, Block(1, 500) + Block(500, 500) + Block(1000, 500) + Block(1500, 120));
  CutBackRunFiles(sim, 1000);
  EXPECT_EQ(ReadText(data1), head + Row(1) + Row(2) + Row(3) + Row(4) + Row(5));
  EXPECT_EQ(ReadText(data2), Block(1, 500) + Block(500, 500) + Block(1000, 500));
  CutBackRunFiles(sim, 3);
  EXPECT_EQ(ReadText(data1), head + Row(1) + Row(2) + Row(3));
  EXPECT_EQ(ReadText(data2), Block(1, 500));
}

TEST_F(CutBack, GenerationNumbersAreComparedWhole) {
  // Generation 12 and 100000 are past generation 1, whatever their leading digit.
  WriteText(data1, Data1Header() + Row(1) + Row(12) + "100000      80.00000\r\n");
  WriteText(data2, Block(1, 3) + Block(12, 3));
  CutBackRunFiles(sim, 1);
  EXPECT_EQ(ReadText(data1), Data1Header() + Row(1));
  EXPECT_EQ(ReadText(data2), Block(1, 3));
}

TEST_F(CutBack, DropsTheUnterminatedTailOfAnInterruptedWrite) {
  WriteText(data1, Data1Header() + Row(1) + Row(2) + "    3      80.0");
  WriteText(data2, Block(1, 2) + "        1.00");
  CutBackRunFiles(sim, 5);
  EXPECT_EQ(ReadText(data1), Data1Header() + Row(1) + Row(2));
  EXPECT_EQ(ReadText(data2), Block(1, 2));
}

TEST_F(CutBack, MissingFileIsNamed) {
  WriteText(data1, Data1Header());
  try {
    CutBackRunFiles(sim, 4);
    FAIL() << "a missing Data2.txt was accepted";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("Data2.txt"), std::string::npos) << e.what();
  }
}

} // namespace
} // namespace zupo
