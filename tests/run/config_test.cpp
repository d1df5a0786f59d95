#include "run/config.h"

#include <gtest/gtest.h>

#include "core/errors.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

const char* const kIni = "[Stock_Market]\r\n"
                         "H0=1\r\nM0=100\r\nIrate=1E-3\r\nBeta=-3\r\n"
                         "[Traders]\r\n"
                         "Full=10\r\nGrow=90\r\nReproduct=200\r\nMutation=150\r\nMutProb=0.05\r\n"
                         "DepthLimit=260\r\nLeaveProb=30\r\nMaxExp=10\r\nMutMode=256\r\n"
                         "G_Gap=5\r\nLibraryProb=50\r\nLambda=0.5\r\nTheta1=0.2\r\n"
                         "Theta2=0.75\r\nTheta3=0.01\r\nTryNo=3\r\nGen_No=1200\r\n"
                         "[Common]\r\n"
                         "BinarySet=+\\-\\*\\%\\\r\nUnarySet=sin\\cos\\exp\\log\r\n"
                         "X_Var=xp1\\xp2\\\r\nY_Var=\r\nExtra_Var= abcde\\\r\nConst_Item=abc\r\n"
                         "Data_File=data\\Data.txt\r\nExData_File=/abs/ex.txt\r\n"
                         "Tree_Path1=run\\\r\nTree_Path2=lib\\m\r\nStop_No=0\r\nDo_Dim=257\r\n"
                         "DimA_File=\r\nDimB_File=b.txt\r\nDimC_File=Not_Found\r\n";

class Config : public ::testing::Test {
protected:
  void SetUp() override {
    ini = dir / "Zupo.ini";
    test::WriteText(ini, kIni);
  }
  // Replaces the line "key=..." of the file (or removes it when value is null).
  void Set(const std::string& key, const char* value) {
    std::string text = test::ReadText(ini);
    size_t at = text.find("\n" + key + "=") + 1;
    size_t end = text.find("\r\n", at) + 2;
    text.replace(at, end - at, value ? key + "=" + value + "\r\n" : "");
    test::WriteText(ini, text);
  }
  std::string ErrorOf() {
    try {
      GetEnv(sim, ini);
    } catch (const RunError& e) {
      return e.what();
    }
    return "(no error)";
  }
  test::TempDir dir;
  std::string ini;
  Simulation sim;
};

TEST_F(Config, ReadsEveryParameterWithItsStorage) {
  GetEnv(sim, ini);
  const Params& P = sim.P;
  EXPECT_EQ(P.H0, 1);
  EXPECT_EQ(P.M0, 100);
  EXPECT_NEAR(P.Irate, 1e-3, 1e-14);
  EXPECT_EQ(P.Beta, -3);
  EXPECT_EQ(P.Full, 10);
  EXPECT_EQ(P.Grow, 90);
  EXPECT_EQ(P.Reproduct, 200);
  EXPECT_EQ(P.Mutation, 150);
  EXPECT_NEAR(P.MutProb, 0.05, 1e-13);
  EXPECT_NE(P.MutProb, 0.05); // held with 40 significant bits, not as a double
  EXPECT_EQ(P.DepthLimit, 4); // 8-bit fields keep the low 8 bits
  EXPECT_EQ(P.LeaveProb, 30);
  EXPECT_EQ(P.MaxExp, 10);
  EXPECT_EQ(P.MutMode, 0);
  EXPECT_EQ(P.G_Gap, 5);
  EXPECT_EQ(P.LibraryProb, 50);
  EXPECT_EQ(P.Lambda, 0.5);
  EXPECT_NEAR(P.Theta1, 0.2, 1e-13);
  EXPECT_EQ(P.Theta2, 0.75);
  EXPECT_NEAR(P.Theta3, 0.01, 1e-14);
  EXPECT_EQ(P.TryNo, 3);

  const SymbolSet& S = sim.S;
  EXPECT_EQ(S.NBinary, 4);
  EXPECT_EQ(S.NUnary, 3); // "log" has no final backslash
  EXPECT_EQ(S.NXVar, 2);
  EXPECT_EQ(S.NYVar, 0);
  EXPECT_EQ(S.NExtra, 1);
  EXPECT_EQ(S.NSym, 11);
  EXPECT_EQ(S.SymTab[8], "XP1");
  EXPECT_EQ(S.SymTab[10], "ABCD");
  EXPECT_EQ(S.SymTab[11], "A");
}

TEST_F(Config, BadOrMissingNumbersStopStartUp) {
  Set("LibraryProb", "0.5");
  EXPECT_EQ(ErrorOf(), ini + " [Traders] LibraryProb: \"0.5\" is not a valid integer");
  Set("LibraryProb", "50");
  Set("H0", "Not_Found");
  EXPECT_NE(ErrorOf().find("[Stock_Market] H0: the key is missing"), std::string::npos);
  Set("H0", "1,5");
  EXPECT_EQ(ErrorOf(), ini + " [Stock_Market] H0: \"1,5\" is not a valid number");
  Set("H0", "1e39"); // beyond the 6-byte range
  EXPECT_EQ(ErrorOf(), ini + " [Stock_Market] H0: \"1e39\" is out of range");
  Set("H0", "1");
  Set("Full", "3000000000");
  EXPECT_EQ(ErrorOf(), ini + " [Traders] Full: \"3000000000\" is not a valid integer");
  Set("Full", "10");
  Set("Beta", nullptr); // required although nothing uses it
  EXPECT_EQ(ErrorOf(), ini + " [Stock_Market] Beta: the key is missing or empty");
}

TEST_F(Config, OversizedSymbolListsAreRefused) {
  Set("Y_Var", "Y\\Y\\Y\\Y\\Y\\Y\\Y\\Y\\Y\\Y\\Y\\Y\\Y\\Y\\Y\\Y\\"); // 16
  std::string msg = ErrorOf();
  EXPECT_NE(msg.find("Y_Var"), std::string::npos) << msg;
  EXPECT_EQ(msg.find(ini), 0u) << msg;
  Set("Y_Var", "");
  std::string many;
  for (int i = 0; i < 66; ++i) many += "+\\"; // 66 + 3 + 2 + 1 + 1 = 73 symbols: accepted
  Set("BinarySet", many.c_str());
  EXPECT_EQ(ErrorOf(), "(no error)");
  Set("BinarySet", (many + "+\\+\\+\\").c_str()); // 76
  EXPECT_NE(ErrorOf().find("76 symbols"), std::string::npos);
}

TEST_F(Config, RunKeysResolveAgainstTheIniFolder) {
  ReadRunKeys(sim, ini);
  const Params& P = sim.P;
  EXPECT_EQ(P.Data_File, dir.Path() + "/data/Data.txt");
  EXPECT_EQ(P.ExData_File, "/abs/ex.txt");
  EXPECT_EQ(P.Tree_Path1, dir.Path() + "/run/");
  EXPECT_EQ(P.Tree_Path2, dir.Path() + "/lib/m");
  EXPECT_EQ(P.Gen_No, 1200);
  EXPECT_EQ(P.Stop_No, 0);
  EXPECT_EQ(P.Do_Dim, 1);
  EXPECT_EQ(P.DimA_File, "");
  EXPECT_EQ(P.DimB_File, dir.Path() + "/b.txt");
  EXPECT_EQ(P.DimC_File, "");
  // With "run\" the model folders are run/0 .. run/9.
  EXPECT_EQ(ModelFileName(sim, "T", 7), dir.Path() + "/run/0/T0007.dat");
  EXPECT_EQ(ModelFileName(sim, "T", 7, true), dir.Path() + "/lib/m0/T0007.dat");

  Set("Stop_No", nullptr);
  EXPECT_THROW(ReadRunKeys(sim, ini), RunError);
}

} // namespace
} // namespace zupo
