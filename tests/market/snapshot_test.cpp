#include "market/snapshot.h"

#include <gtest/gtest.h>

#include "testutil.h"

namespace zupo::test {

// The generation that has just ended is in the PrevBase half (501..1000 by default).
TEST(Snapshots, FilesOfThePrevBaseHalfAndTheirValuesReadBack) {
  TempDir dir;
  Simulation sim;
  SetUpRunFolders(sim, dir.Path());
  TraderBook& T = sim.T;
  for (int i = 501; i <= 2 * MaxTraders; ++i)
    std::tie(T.Shares[i], T.Wealth[i], T.Money[i], T.Sigma[i], T.Forecast[i], T.OrderIdx[i]) =
        std::tuple(i - 500, i + 500, 0.5L * (i - 500), 0.25, i - 420, 1001 - i);
  std::tie(T.Shares[501], T.Forecast[501]) = std::tuple(-2.5, 1.0L / 3); // negative; 16+ digits
  WriteText(SnapshotPath(sim, 'k', 'f'), std::string(10000, '9'));       // an older, longer file
  WriteSnapshotSet(sim, 'k');
  auto text = [&](char suffix) { return ReadText(SnapshotPath(sim, 'k', suffix)); };
  EXPECT_EQ(text('h').substr(0, 50), "-2.50000000000000E+0000\r\n 2.00000000000000E+0000\r\n");
  EXPECT_EQ(text('w').substr(499 * 25), " 1.50000000000000E+0003\r\n");
  EXPECT_EQ(text('m').substr(25, 25) + text('s').substr(0, 25),
            " 1.00000000000000E+0000\r\n 2.50000000000000E-0001\r\n");
  EXPECT_EQ(text('v').substr(0, 50), " 3.33333333333333E-0001\r\n 8.20000000000000E+0001\r\n");
  for (char s : std::string("hwmsv")) EXPECT_EQ(text(s).size(), 500u * 25u);
  EXPECT_EQ(text('f').substr(0, 10), "500\r\n499\r\n");
  EXPECT_EQ(text('f').size(), 9u * 1 + 90u * 2 + 401u * 3 + 500u * 2);
  // The values are those of the file; what this run wrote is known without reading it.
  std::filesystem::remove(SnapshotPath(sim, 'k', 'v'));
  EXPECT_EQ(SnapshotValue(sim, 'k', 'v', 1), 0.333333333333333L);
  EXPECT_EQ(SnapshotValue(sim, 'k', 'w', 10), 1010.0L);
  Simulation other; // a resumed run reads the file
  other.P = sim.P;
  EXPECT_EQ(SnapshotValue(other, 'k', 'w', 500), 1500.0L);
  T.Wealth[510] = -3; // a new set replaces the remembered values
  WriteSnapshotSet(sim, 'k');
  EXPECT_EQ(SnapshotValue(sim, 'k', 'w', 10), -3.0L);
}

} // namespace zupo::test
