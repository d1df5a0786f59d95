#include "run/config.h"

#include <gtest/gtest.h>
#include <tuple>

#include "core/errors.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

const std::string kIni =
    "[Stock_Market]\r\nH0=1\r\nM0=100\r\nIrate=1E-3\r\nBeta=-3\r\n[Traders]\r\nFull=10\r\n"
    "Grow=90\r\nReproduct=200\r\nMutation=150\r\nMutProb=0.05\r\nDepthLimit=260\r\n"
    "LeaveProb=30\r\nMaxExp=10\r\nMutMode=256\r\nG_Gap=5\r\nLibraryProb=50\r\nLambda=0.5\r\n"
    "Theta1=0.2\r\nTheta2=0.75\r\nTheta3=0.01\r\nTryNo=200\r\nGen_No=1200\r\n[Common]\r\n"
    "BinarySet=+\\-\\*\\%\\\r\nUnarySet=sin\\cos\\exp\\log\r\nX_Var=xp1\\xp2\\\r\nY_Var=\r\n"
    "Extra_Var= abcde\\\r\nConst_Item=abc\r\nData_File=data\\Data.txt\r\nTree_Path1=run\\\r\n"
    "Tree_Path2=lib\\m\r\nStop_No=0\r\nDo_Dim=257\r\nDimA_File=\r\nDimC_File=Not_Found\r\n";

TEST(Config, ReadsTheIniAndNamesFileSectionKeyAndValueOfErrors) {
  test::TempDir dir;
  const std::string ini = dir / "Zupo.ini";
  Simulation sim;
  test::WriteText(ini, kIni);
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

  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"LibraryProb", "0.5", " [Traders] LibraryProb: \"0.5\" is not a valid integer"},
      {"H0", "1,5", " [Stock_Market] H0: \"1,5\" is not a valid number"},
      {"H0", "1e39", " [Stock_Market] H0: \"1e39\" is out of range"},
      {"Full", "3000000000", " [Traders] Full: \"3000000000\" is not a valid integer"},
      {"Beta", nullptr, " [Stock_Market] Beta: the key is missing or empty"}};
  for (const auto& [key, value, msg] : cases) {
    std::string text = kIni, line = std::string(key) + "=";
    size_t at = text.find("\n" + line) + 1;
    text.replace(at, text.find('\n', at) + 1 - at, value ? line + value + "\r\n" : "");
    test::WriteText(ini, text);
    try {
      GetEnv(sim, ini);
      ADD_FAILURE() << key;
    } catch (const RunError& e) {
      EXPECT_EQ(e.what(), ini + msg);
    }
  }
  // 256 is above 255 too (held as 0); 255 is kept as it is, without a word.
  for (const char* depth : {"256", "255"}) {
    std::string text = kIni;
    text.replace(text.find("DepthLimit=260"), 14, std::string("DepthLimit=") + depth);
    test::WriteText(ini, text);
    warnings.clear();
    GetEnv(sim, ini);
    EXPECT_EQ(warnings.size(), depth[2] == '6' ? 2u : 1u) << depth;
  }
}

} // namespace
} // namespace zupo
