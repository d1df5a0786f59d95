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

// The generation that has just ended is in the PrevBase half (here 500..1000); the CurBase half
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
  std::string Line(char set, char suffix, int i) {
    std::string text = ReadText(SnapshotPath(sim, set, suffix));
    size_t pos = 0;
    for (int k = 1; k < i; ++k) pos = text.find('\n', pos) + 1;
    return text.substr(pos, text.find('\n', pos) + 1 - pos);
  }
};

TEST_F(Snapshots, PathsUnderTheRunFolder) {
  EXPECT_EQ(SnapshotPath(sim, 'k', 'h'), dir.Path() + "/run/Historyk.h");
  EXPECT_EQ(SnapshotPath(sim, '1', 'f'), dir.Path() + "/run/History1.f");
}

TEST_F(Snapshots, SixFilesOfFiveHundredLinesFromThePreviousHalf) {
  sim.T.Shares[501] = -2.5; // a negative value: minus sign in place of the blank
  sim.T.Money[502] = 1e-300L;
  WriteSnapshotSet(sim, 'k');
  EXPECT_EQ(Line('k', 'h', 1), "-2.50000000000000E+0000\r\n");
  EXPECT_EQ(Line('k', 'h', 2), " 2.00000000000000E+0000\r\n");
  EXPECT_EQ(Line('k', 'w', 500), " 1.50000000000000E+0003\r\n");
  EXPECT_EQ(Line('k', 'm', 2), " 1.00000000000000E-0300\r\n");
  EXPECT_EQ(Line('k', 's', 9), " 2.50000000000000E-0001\r\n");
  EXPECT_EQ(Line('k', 'v', 20), " 1.00000000000000E+0002\r\n");
  EXPECT_EQ(Line('k', 'f', 1), "500\r\n");
  EXPECT_EQ(Line('k', 'f', 500), "1\r\n");
  for (char s : std::string("hwmsv")) EXPECT_EQ(ReadText(SnapshotPath(sim, 'k', s)).size(), 12500u);
  EXPECT_EQ(ReadText(SnapshotPath(sim, 'k', 'f')).size(), 9u * 1 + 90u * 2 + 401u * 3 + 500u * 2);
  EXPECT_FALSE(std::filesystem::exists(SnapshotPath(sim, '1', 'h')));
}

TEST_F(Snapshots, OlderLongerFileIsReplaced) {
  WriteText(SnapshotPath(sim, '1', 'f'), std::string(10000, '9'));
  WriteSnapshotSet(sim, '1');
  EXPECT_EQ(ReadText(SnapshotPath(sim, '1', 'f')).substr(0, 10), "500\r\n499\r\n");
  EXPECT_EQ(ReadText(SnapshotPath(sim, '1', 'f')).size(), 9u * 1 + 90u * 2 + 401u * 3 + 500u * 2);
}

TEST_F(Snapshots, ValuesAreThoseOfTheFile) {
  sim.T.Forecast[501] = 1.0L / 3; // more digits than the file keeps
  WriteSnapshotSet(sim, 'k');
  // 15 significant digits, as the file reads back.
  EXPECT_EQ(SnapshotValue(sim, 'k', 'v', 1), 0.333333333333333L);
  EXPECT_EQ(SnapshotValue(sim, 'k', 'f', 3), 498.0L);
  // Another run (a resume) reads the same values from disk.
  Simulation other;
  other.P = sim.P;
  EXPECT_EQ(SnapshotValue(other, 'k', 'v', 1), 0.333333333333333L);
  EXPECT_EQ(SnapshotValue(other, 'k', 'h', 500), 500.0L);
}

TEST_F(Snapshots, FileIsReadOnceWhileUnchanged) {
  WriteSnapshotSet(sim, 'k');
  // What this run wrote is known without reading it.
  std::filesystem::remove(SnapshotPath(sim, 'k', 'w'));
  EXPECT_EQ(SnapshotValue(sim, 'k', 'w', 10), 1010.0L);
  // A file first read from disk is kept after that one read.
  Simulation other;
  other.P = sim.P;
  EXPECT_EQ(SnapshotValue(other, 'k', 'm', 4), 2.0L);
  WriteText(SnapshotPath(sim, 'k', 'm'), "5\r\n");
  EXPECT_EQ(SnapshotValue(other, 'k', 'm', 4), 2.0L);
  // A new set replaces the remembered values.
  sim.T.Wealth[510] = -3;
  WriteSnapshotSet(sim, 'k');
  EXPECT_EQ(SnapshotValue(sim, 'k', 'w', 10), -3.0L);
}

TEST_F(Snapshots, ShortOrMissingFileNamesTheFile) {
  WriteText(SnapshotPath(sim, '1', 's'), " 1.0\r\n 2.0\r\n");
  Simulation other;
  other.P = sim.P;
  EXPECT_EQ(SnapshotValue(other, '1', 's', 2), 2.0L);
  for (int i : {3, 0}) {
    try {
      SnapshotValue(other, '1', 's', i);
      FAIL() << "line " << i << " of a two-line file was read";
    } catch (const RunError& e) {
      EXPECT_NE(std::string(e.what()).find("History1.s"), std::string::npos) << e.what();
    }
  }
  try {
    SnapshotValue(other, '1', 'v', 1);
    FAIL() << "a missing snapshot file was read";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("History1.v"), std::string::npos) << e.what();
  }
}

} // namespace
} // namespace zupo
