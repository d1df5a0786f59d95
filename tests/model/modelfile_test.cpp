#include "model/modelfile.h"

#include <gtest/gtest.h>

#include "core/errors.h"
#include "model/generate.h"
#include "model/symbols.h"
#include "testutil.h"

namespace zupo {
namespace {

// The example configuration: X variables XP1 and XP2, constant symbol K.
void ExampleSymbols(Simulation& sim) {
  BuildSymbolSet(sim.S, ParseSymbolList("+\\-\\*\\%\\"), {}, ParseSymbolList("XP1\\XP2\\"), {}, {},
                 "K");
}

PTreeNode Node(int sym, PTreeNode left = nullptr, PTreeNode right = nullptr, double value = 0) {
  auto n = std::make_unique<TTreeNode>();
  n->Sym = static_cast<uint8_t>(sym);
  n->Left = std::move(left);
  n->Right = std::move(right);
  n->Value = value;
  return n;
}

std::vector<std::string> Tokens(const std::string& text) {
  TextReader in("t", text);
  std::vector<std::string> out;
  while (!in.Eof()) out.push_back(ReadToken(in));
  return out;
}

class ModelFiles : public ::testing::Test {
protected:
  void SetUp() override { test::SetUpRunFolders(sim, dir.Path()); }
  std::string Path(int n, bool lib = false) { return ModelFileName(sim, "T", n, lib); }
  test::TempDir dir;
  Simulation sim;
  std::vector<std::string> warnings;
  void RecordWarnings() {
    sim.Warn = [this](const std::string& m) { warnings.push_back(m); };
  }
};

TEST(ModelFileName, FolderDigitAndPaddedNumber) {
  Simulation sim;
  sim.P.Tree_Path1 = "p/run";
  sim.P.Tree_Path2 = "q/lib";
  EXPECT_EQ(ModelFileName(sim, "T", 7), "p/run0/T0007.dat");
  EXPECT_EQ(ModelFileName(sim, "T", 0), "p/run0/T0000.dat");
  EXPECT_EQ(ModelFileName(sim, "T", 99), "p/run0/T0099.dat");
  EXPECT_EQ(ModelFileName(sim, "T", 100), "p/run1/T0100.dat");
  EXPECT_EQ(ModelFileName(sim, "T", 523), "p/run5/T0523.dat");
  EXPECT_EQ(ModelFileName(sim, "T", 1000), "p/run9/T1000.dat");
  EXPECT_EQ(ModelFileName(sim, "T", 523, true), "q/lib5/T0523.dat");
  EXPECT_EQ(ModelFileName(sim, "Best", 100), "p/run1/Best0100.dat");
  EXPECT_EQ(ModelFileName(sim, "Best", 1100), "p/run9/Best1100.dat");
  EXPECT_EQ(ModelFileName(sim, "Best", 12345), "p/run9/Best12345.dat");
  sim.P.Tree_Path1 = "p/run/"; // a prefix ending in a separator names folders inside it
  EXPECT_EQ(ModelFileName(sim, "T", 7), "p/run/0/T0007.dat");
}

TEST(ModelToken, FollowsTheTokenRule) {
  EXPECT_EQ(Tokens("XP1K(-"), (std::vector<std::string>{"XP1", "K", "(", "-"}));
  EXPECT_EQ(Tokens("SINSQRTSIX"), (std::vector<std::string>{"SIN", "SQRT", "SIX"}));
  EXPECT_EQ(Tokens("SXY01"), (std::vector<std::string>{"S", "Y01"})); // the X is lost
  EXPECT_EQ(Tokens("sqrtabse01z12"), (std::vector<std::string>{"sqrt", "abs", "e01", "z12"}));
  EXPECT_EQ(Tokens("LO"), (std::vector<std::string>{"LO\x1a"})); // the end reads as Ctrl-Z
}

TEST(ModelToken, ConstantFormat) {
  std::string s;
  AppendConstToken(s, 1.25);
  AppendConstToken(s, -0.07);
  AppendConstToken(s, 12.5);
  AppendConstToken(s, 0);
  AppendConstToken(s, 3.456);
  EXPECT_EQ(s, "(1.25 )(-0.07 )(12.50 )(0.00 )(3.46 )");
}

TEST_F(ModelFiles, WorkedExampleSavesLoadsAndReads) {
  ExampleSymbols(sim);
  PTreeNode t = Node(3, Node(2, Node(5), Node(7, nullptr, nullptr, 1.25)), Node(6));
  SaveModel(sim, t, 7);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(test::ReadText(dir.Path() + "/run0/T0007.dat"), "XP1K(1.25 )-XP2*");

  LoadModel(sim, 7);
  ASSERT_EQ(sim.ModelList.size(), 5u);
  const int syms[] = {5, 7, 2, 6, 3};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(sim.ModelList[i].Sym, syms[i]);
  EXPECT_EQ(sim.ModelList[1].Value, 1.25);
  EXPECT_EQ(sim.ModelCursor, 0u);

  int nodes = 0, terms = 0;
  PTreeNode r = ReadTree(sim, 7, nodes, terms);
  EXPECT_EQ(nodes, 5);
  EXPECT_EQ(terms, 3);
  EXPECT_EQ(InOrderText(sim.S, r.get()), "((XP1-1.25)*XP2)");
  ASSERT_TRUE(r->Left && r->Right);
  EXPECT_EQ(r->Left->Left->Sym, 5); // Left is the first operand
  EXPECT_EQ(r->Right->Sym, 6);
}

TEST_F(ModelFiles, RoundTripKeepsOrderShapeAndRoundedConstants) {
  test::DefaultSymbols(sim);
  // SQRT(ABS(Y02)) + X03 * 3.456
  PTreeNode t = Node(1, Node(10, Node(9, Node(15))), Node(3, Node(13), Node(16, {}, {}, 3.456)));
  EXPECT_EQ(InOrderText(sim.S, t.get()), "(SQRTABSY02+(X03*3.46))");
  SaveModel(sim, t, 523);
  const std::string text = "Y02ABSSQRTX03R(3.46 )*+";
  EXPECT_EQ(test::ReadText(Path(523)), text);

  int nodes = 0, terms = 0;
  PTreeNode r = ReadTree(sim, 523, nodes, terms);
  EXPECT_EQ(TreeText(sim.S, r.get()), text);
  EXPECT_EQ(r->Left->Right, nullptr); // unary nodes have no Right
  EXPECT_NEAR(r->Right->Right->Value, 3.46, 1e-11);

  LoadModel(sim, 523);
  EXPECT_EQ(ListText(sim), text);
  WriteList(sim, 1000);
  EXPECT_EQ(sim.ModelCursor, sim.ModelList.size());
  EXPECT_EQ(test::ReadText(Path(1000)), text);
  DisposeList(sim);
  EXPECT_TRUE(sim.ModelList.empty());
}

TEST_F(ModelFiles, SingleTerminalAndUnknownNames) {
  test::DefaultSymbols(sim);
  test::WriteText(Path(1), "X02");
  LoadModel(sim, 1);
  ASSERT_EQ(sim.ModelList.size(), 1u);
  EXPECT_EQ(sim.ModelList[0].Sym, 12);

  test::WriteText(Path(2), "x01Q");
  LoadModel(sim, 2);
  ASSERT_EQ(sim.ModelList.size(), 2u); // lower case and unknown names read as code 0
  EXPECT_EQ(sim.ModelList[0].Sym, 0);
  EXPECT_EQ(sim.ModelList[1].Sym, 0);
}

TEST_F(ModelFiles, BadFilesAreErrorsNamingTheFile) {
  test::DefaultSymbols(sim);
  test::WriteText(Path(3), "");
  test::WriteText(Path(4), "X01R(1.2x )+");
  test::WriteText(Path(5), "R(");
  test::WriteText(Path(6), "R(1e99 )");
  for (int n : {3, 4, 5, 6, 9}) {
    try {
      LoadModel(sim, n);
      ADD_FAILURE() << "model " << n << " loaded";
    } catch (const RunError& e) {
      EXPECT_NE(std::string(e.what()).find(Path(n)), std::string::npos) << e.what();
    }
  }
  int nodes = 0, terms = 0;
  EXPECT_THROW(ReadTree(sim, 3, nodes, terms), RunError);
}

TEST_F(ModelFiles, ReadTreeWarnsOnMissingOperandsAndReadsTheLibrary) {
  test::DefaultSymbols(sim);
  RecordWarnings();
  test::WriteText(Path(12, true), "+");
  int nodes = 0, terms = 0;
  PTreeNode r = ReadTree(sim, -12, nodes, terms);
  EXPECT_EQ(warnings, (std::vector<std::string>{"Stack underfollow !! ", "Stack underfollow !! "}));
  EXPECT_EQ(nodes, 1);
  EXPECT_EQ(terms, 0);
  EXPECT_EQ(r->Sym, 1);
  EXPECT_EQ(r->Left, nullptr);
  EXPECT_EQ(InOrderText(sim.S, r.get()), "(+)");

  test::WriteText(Path(13), "X01X02"); // two trees: the top one is the result
  r = ReadTree(sim, 13, nodes, terms);
  EXPECT_EQ(TreeText(sim.S, r.get()), "X02");
  EXPECT_EQ(terms, 2);
}

TEST_F(ModelFiles, PopulationFilesAreCachedButTheLibraryIsNot) {
  test::DefaultSymbols(sim);
  StoreModelText(sim, 8, "X01");
  // Nothing else writes the population's files: a change behind the program's back shows that
  // an equal save leaves the disk alone and that a known file is not read again.
  test::WriteText(Path(8), "X02");
  StoreModelText(sim, 8, "X01");
  EXPECT_EQ(test::ReadText(Path(8)), "X02");
  EXPECT_EQ(ModelFileText(sim, 8), "X01");
  StoreModelText(sim, 8, "X03");
  EXPECT_EQ(test::ReadText(Path(8)), "X03");

  test::WriteText(Path(8, true), "X01");
  LoadModel2(sim, 8);
  EXPECT_EQ(sim.ModelList[0].Sym, 11);
  test::WriteText(Path(8, true), "Y01");
  LoadModel2(sim, 8);
  EXPECT_EQ(sim.ModelList[0].Sym, 14);
}

} // namespace
} // namespace zupo
