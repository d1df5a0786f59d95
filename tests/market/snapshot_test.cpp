#include "market/snapshot.h"

#include <gtest/gtest.h>

#include "testutil.h"

namespace zupo::test {

// The generation that has just ended is in the PrevBase half (501..1000 by default).
TEST(Snapshots, FilesOfThePrevBaseHalfAndTheirValuesReadBack) {
  RunFolder run;
  Simulation& sim = run.sim;
  TraderBook& T = sim.T;
  for (int i = 501; i <= 2 * MaxTraders; ++i)
    std::tie(T.Shares[i], T.Wealth[i], T.Money[i], T.Sigma[i], T.Forecast[i], T.OrderIdx[i]) =
        std::tuple(i - 500, i + 500, 0.5L * (i - 500), 0.25, i - 420, 1001 - i);
  std::tie(T.Shares[501], T.Forecast[501]) = std::tuple(-2.5, 1.0L / 3); // negative; 16+ digits
  WriteText(SnapshotPath(sim, 'k', 'f'), std::string(10000, '9'));       // an older, longer file
  WriteSnapshotSet(sim, 'k');
  auto text = [&](char suffix) { return ReadText(SnapshotPath(sim, 'k', suffix)); };
  EXPECT_EQ(text('h').substr(0, 50), "-2.50000000000000E+0000\r\n 2.00000000000000E+0000\r\n");
  EXPECT_EQ(text('v').substr(0, 50), " 3.33333333333333E-0001\r\n 8.20000000000000E+0001\r\n");
  // Ranks 500 down to 1 (9 + 90 + 401 numbers of 1, 2, 3 digits); the older file is cut.
  EXPECT_EQ(text('f').substr(9 * 3 + 90 * 4 + 401 * 5 - 9), "3\r\n2\r\n1\r\n");
  std::filesystem::remove(SnapshotPath(sim, 'k', 'v')); // what this run wrote is remembered
  EXPECT_EQ(SnapshotValue(sim, 'k', 'v', 1), 0.333333333333333L);
  Simulation other; // a resumed run reads the files
  other.P = sim.P;
  EXPECT_EQ(std::tuple(SnapshotValue(other, 'k', 'w', 500), SnapshotValue(other, 'k', 'm', 2),
                       SnapshotValue(other, 'k', 's', 1)),
            std::tuple(1500.0L, 1.0L, 0.25L));
  for (Simulation* s : {&sim, &other}) // past the last line both fail alike
    EXPECT_TRUE(FailsNaming([&] { SnapshotValue(*s, 'k', 'w', 501); }, "line 501"));
  EXPECT_EQ(SnapshotValue(sim, 'k', 'w', 10), 1010.0L);
  T.Wealth[510] = -3; // a new set replaces the remembered values, read or not
  WriteSnapshotSet(sim, 'k');
  EXPECT_EQ(SnapshotValue(sim, 'k', 'w', 10), -3.0L);
  EXPECT_EQ(SnapshotValue(sim, 'k', 'w', 11), 1011.0L);
}

} // namespace zupo::test
