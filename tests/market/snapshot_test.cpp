#include "market/snapshot.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "testutil.h"

namespace zupo {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

// The generation that has just ended is in the PrevBase half (here 501..1000); the CurBase half
// holds other values that must not appear.
struct Snapshots : ::testing::Test {
  TempDir dir;
  Simulation sim;
  void SetUp() override {
    test::SetUpRunFolders(sim, dir.Path());
    TraderBook& T = sim.T;
    T.PrevBase = 500;
    T.CurBase = 0;
    for (int i = 1; i <= MaxTraders; ++i) {
      T.Shares[500 + i] = i;
      T.Wealth[500 + i] = 1000 + i;
      T.Money[500 + i] = 0.5L * i;
      T.Sigma[500 + i] = 0.25;
      T.Forecast[500 + i] = 80 + i;
      T.OrderIdx[500 + i] = 501 - i;
      T.Shares[i] = T.Wealth[i] = T.Money[i] = T.Sigma[i] = T.Forecast[i] = 7;
      T.OrderIdx[i] = i;
    }
  }
  std::string Text(char set, char suffix) { return ReadText(SnapshotPath(sim, set, suffix)); }
};

TEST_F(Snapshots, SixFilesOfFiveHundredLinesFromThePreviousHalf) {
  EXPECT_EQ(SnapshotPath(sim, 'k', 'h'), dir / "run/Historyk.h");
  sim.T.Shares[501] = -2.5; // a negative value: minus sign in place of the blank
  sim.T.Money[502] = 1e-300L;
  WriteText(SnapshotPath(sim, 'k', 'f'), std::string(10000, '9')); // an older, longer file
  WriteSnapshotSet(sim, 'k');
  EXPECT_EQ(Text('k', 'h').substr(0, 50), "-2.50000000000000E+0000\r\n 2.00000000000000E+0000\r\n");
  EXPECT_EQ(Text('k', 'w').substr(499 * 25), " 1.50000000000000E+0003\r\n");
  EXPECT_EQ(Text('k', 'm').substr(25, 25), " 1.00000000000000E-0300\r\n");
  EXPECT_EQ(Text('k', 's').substr(0, 25), " 2.50000000000000E-0001\r\n");
  EXPECT_EQ(Text('k', 'v').substr(19 * 25, 25), " 1.00000000000000E+0002\r\n");
  for (char s : std::string("hwmsv")) EXPECT_EQ(Text('k', s).size(), 500u * 25u);
  std::string f = Text('k', 'f');
  EXPECT_EQ(f.substr(0, 10), "500\r\n499\r\n");
  EXPECT_EQ(f.size(), 9u * 1 + 90u * 2 + 401u * 3 + 500u * 2);
  EXPECT_FALSE(std::filesystem::exists(SnapshotPath(sim, '1', 'h')));
}

TEST_F(Snapshots, ValuesAreThoseOfTheFileReadOnce) {
  sim.T.Forecast[501] = 1.0L / 3; // more digits than the file keeps
  WriteSnapshotSet(sim, 'k');
  EXPECT_EQ(SnapshotValue(sim, 'k', 'v', 1), 0.333333333333333L);
  EXPECT_EQ(SnapshotValue(sim, 'k', 'f', 3), 498.0L);
  // What this run wrote is known without reading it.
  std::filesystem::remove(SnapshotPath(sim, 'k', 'w'));
  EXPECT_EQ(SnapshotValue(sim, 'k', 'w', 10), 1010.0L);
  // Another run (a resume) reads the file once.
  Simulation other;
  other.P = sim.P;
  EXPECT_EQ(SnapshotValue(other, 'k', 'v', 1), 0.333333333333333L);
  WriteText(SnapshotPath(sim, 'k', 'v'), "5\r\n");
  EXPECT_EQ(SnapshotValue(other, 'k', 'v', 500), 580.0L);
  // A new set replaces the remembered values.
  sim.T.Wealth[510] = -3;
  WriteSnapshotSet(sim, 'k');
  EXPECT_EQ(SnapshotValue(sim, 'k', 'w', 10), -3.0L);
}

TEST_F(Snapshots, ShortOrMissingFileNamesTheFile) {
  WriteText(SnapshotPath(sim, '1', 's'), " 1.0\r\n 2.0\r\n");
  EXPECT_EQ(SnapshotValue(sim, '1', 's', 2), 2.0L);
  for (auto [suffix, i] : {std::pair{'s', 3}, {'s', 0}, {'v', 1}}) {
    try {
      SnapshotValue(sim, '1', suffix, i);
      ADD_FAILURE() << "line " << i << " of History1." << suffix << " was read";
    } catch (const RunError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("History1.") + suffix), std::string::npos)
          << e.what();
    }
  }
}

} // namespace
} // namespace zupo
