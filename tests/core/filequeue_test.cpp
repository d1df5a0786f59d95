#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../testutil.h"
#include "core/errors.h"
#include "core/filequeue.h"
#include "core/paths.h"
#include "core/textio.h"

using namespace zupo;
using test::FailsNaming;

namespace {

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

// Every write a generation makes, in miniature: a file rewritten in place (shorter, then longer),
// a row appended, a new file, and a task that looks at the disk when its turn comes. With the
// writer thread each sees the disk as the writes before it left it, as direct writes do.
TEST(FileQueue, WriterThreadKeepsTheOrderOfDirectWrites) {
  for (bool threaded : {false, true}) {
    test::TempDir d;
    FileQueue q;
    AppendFile rows;
    rows.Create(d / "Data1.txt");
    if (threaded) q.StartWriter(2);
    std::vector<std::string> seen, want;
    std::string wantRows;
    for (int g = 1; g <= 60; ++g) {
      const std::string data = g % 2 ? "odd generation\r\n" : "even\r\n", n = std::to_string(g);
      q.InPlace(d / "Data.txt", data);
      q.Append(rows, n + "\r\n", true);
      q.InPlace(d / ("Best" + n + ".dat"), "report " + n);
      q.Run("gen " + n, [&](std::string& content) {
        seen.push_back(content + " sees " + ReadWholeFile(d / "Data.txt") + "|" +
                       ReadWholeFile(rows.Name()));
      });
      want.push_back("gen " + n + " sees " + data + "|" + (wantRows += n + "\r\n"));
      if (g % 7 == 0) { // a read in the middle of the run: everything is on disk after Sync
        q.Sync();
        EXPECT_EQ(ReadWholeFile(d / ("Best" + n + ".dat")), "report " + n);
      }
      q.Commit();
    }
    q.StopWriter();
    rows.Close();
    EXPECT_EQ(ReadWholeFile(d / "Data1.txt"), wantRows) << threaded;
    EXPECT_EQ(seen, want) << threaded;
    EXPECT_EQ(ReadWholeFile(d / "Data.txt"), "even\r\n"); // cut back to its last, shorter text
    EXPECT_EQ(q.Written(), threaded ? 240 : 0);
  }
}

// A failed write stops the writer: nothing after it reaches the disk (as in a direct run, which
// stops at the failure), the error names the file and is thrown once, by StopWriter if no Commit
// saw it. After StopWriter, writes are direct again and fail at once.
TEST(FileQueue, FirstErrorStopsLaterWritesAndIsThrownOnce) {
  test::TempDir d;
  const std::string bad = d / "missing-folder/Best0002.dat";
  FileQueue q, q2;
  q.StartWriter(3);
  q.InPlace(d / "before.txt", "kept");
  q.Commit();
  q.InPlace(bad, "lost");
  q.InPlace(d / "after.txt", "must not be written");
  q.Run({}, [&](std::string&) { ADD_FAILURE() << "a task after the failure ran"; });
  EXPECT_TRUE(FailsNaming([&] { q.Sync(); }, bad));
  q.InPlace(d / "later.txt", "x"); // queued after the failure: dropped
  EXPECT_NO_THROW(q.StopWriter()); // already reported
  EXPECT_EQ(ReadWholeFile(d / "before.txt"), "kept");
  EXPECT_FALSE(FileExists(d / "after.txt") || FileExists(d / "later.txt"));
  q2.StartWriter();
  q2.InPlace(bad, "lost");
  EXPECT_TRUE(FailsNaming([&] { q2.StopWriter(); }, bad));
  EXPECT_TRUE(FailsNaming([&] { q2.InPlace(bad, "lost"); }, bad));
}

// The producer never runs more than maxPending hand-overs ahead of the disk, and WaitFor waits
// for the writes up to its Commit only. A write that waits for the caller (in the run: the Exit
// button while the writer waits for the companion) is released from the caller's idle calls, and
// a task's error reaches the caller with its own type, so that the run can tell a stop from a
// failure.
TEST(FileQueue, WaitsLastOnlyAsLongAsNeededAndKeepTheCallerAlive) {
  struct Stop {};
  test::TempDir d;
  FileQueue q;
  EXPECT_EQ(q.Commit(), 0u); // without a writer thread everything is written at once
  q.StartWriter(2);
  std::atomic<int> done{0};
  for (int g = 1; g <= 20; ++g) {
    q.Run({}, [&](std::string&) { SleepMs(2), ++done; });
    q.Commit();
    EXPECT_GE(done.load(), g - 2) << g; // 2 may wait, the oldest of them being written
  }
  q.Run({}, [](std::string&) { SleepMs(50); });
  q.InPlace(d / "Gen7", "");
  const uint64_t ticket = q.Commit();
  std::atomic<bool> released{false};
  q.Run({}, [&](std::string&) {
    for (int k = 0; k < 2000 && !released; ++k) SleepMs(1);
    if (released) throw Stop{}; // else the idle calls never came
  });
  q.Run({}, [](std::string&) { ADD_FAILURE() << "a write after the stop was made"; });
  EXPECT_GT(q.Commit(), ticket);
  q.WaitFor(ticket);
  EXPECT_TRUE(FileExists(d / "Gen7") && done == 20 && !released);
  std::vector<double> waited; // by the caller's thread only
  q.SetIdle(
      [&](std::chrono::steady_clock::duration w) {
        waited.push_back(std::chrono::duration<double>(w).count());
        released = released || waited.back() >= 0.03;
      },
      std::chrono::milliseconds(2));
  EXPECT_THROW(q.Sync(), Stop);
  EXPECT_TRUE(waited.size() >= 2 && std::is_sorted(waited.begin(), waited.end()));
  EXPECT_GE(q.WaitedSeconds(), 0.03);
  q.StopWriter();
}

// A file rewritten every generation stays open: each text replaces the whole content, an older
// and longer file left in its place is cut at the first write, and a failure names the file.
TEST(RewrittenFile, EachWriteLeavesExactlyTheNewText) {
  test::TempDir d;
  const std::string path = d / "DimA.txt", other = d / "DimB.txt", bad = d / "no-folder/DimC.txt";
  WriteFileInPlace(path, std::string(5000, 'x')); // left by an earlier run
  RewrittenFile f;
  for (std::string text : {"first text\r\n", "short", "", "a longer text than before\r\n"}) {
    f.Write(path, text);
    EXPECT_EQ(ReadWholeFile(path), text);
  }
  f.Write(other, "b");
  f.Write(path, "a"); // back to the first name: reopened, still cut to the new text
  EXPECT_EQ(ReadWholeFile(path) + ReadWholeFile(other), "ab");
  f.Close();
  EXPECT_TRUE(FailsNaming([&] { f.Write(bad, "c"); }, bad));
}

// Killed at any moment, a run with a writer thread leaves a prefix of its writes: file g is
// written before row g is appended, so the rows found are 1..L and the files 1..L or 1..L+1,
// each complete, and nothing after them.
TEST(FileQueue, AKillLeavesAPrefixOfTheWrites) {
  auto file = [](int g) { return std::string(100 + g % 50, 'a' + g % 26); };
  int mostRows = 0;
  // Fixed delays, then (-1) a kill once the child has written some rows, however slow the machine.
  for (int delayUs : {2000, 5000, 10000, -1}) {
    test::TempDir d;
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FileQueue q;
      AppendFile rows;
      rows.Create(d / "rows.txt");
      q.StartWriter(3);
      for (int g = 1; g <= 100000; ++g) {
        q.InPlace(d / ("f" + std::to_string(g)), file(g));
        q.Append(rows, std::to_string(g) + "\n", true);
        q.Commit();
      }
      q.StopWriter();
      ::_exit(0);
    }
    if (delayUs >= 0) std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
    struct stat st = {};
    for (int k = 0; delayUs < 0 && k < 10000; ++k) {
      if (::stat((d / "rows.txt").c_str(), &st) == 0 && st.st_size > 200) break;
      SleepMs(1);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    std::string rows = FileExists(d / "rows.txt") ? ReadWholeFile(d / "rows.txt") : "";
    int L = 0;
    for (size_t at = 0; at < rows.size(); at = rows.find('\n', at) + 1) {
      ASSERT_NE(rows.find('\n', at), std::string::npos) << "a row cut in half";
      ASSERT_EQ(rows.substr(at, rows.find('\n', at) - at), std::to_string(++L));
    }
    auto name = [&](int g) { return d / ("f" + std::to_string(g)); };
    int files = 0;
    for (; FileExists(name(files + 1)); ++files) { // those before a row written and closed
      if (files < L) {
        ASSERT_EQ(ReadWholeFile(name(files + 1)), file(files + 1));
      }
    }
    EXPECT_TRUE(files == L || files == L + 1) << L << " rows, " << files << " files";
    EXPECT_FALSE(FileExists(name(files + 2)));
    mostRows = std::max(mostRows, L);
  }
  EXPECT_GT(mostRows, 0) << "no kill landed while the writes were being made";
}
