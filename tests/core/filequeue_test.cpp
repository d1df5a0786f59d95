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
#include "core/filequeue.h"
#include "core/paths.h"
#include "core/textio.h"

using namespace zupo;
using std::this_thread::sleep_for;
using test::FailsNaming;
using namespace std::chrono_literals;

// A generation's writes in miniature (rewritten, appended, new files, a task reading the disk):
// with the writer thread each sees the disk as the writes before it left it, as direct ones do.
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
      q.Commit();
    }
    q.StopWriter();
    rows.Close();
    EXPECT_EQ(ReadWholeFile(d / "Data1.txt"), wantRows) << threaded;
    EXPECT_EQ(seen, want) << threaded;
    EXPECT_EQ(ReadWholeFile(d / "Data.txt") + ReadWholeFile(d / "Best60.dat"), "even\r\nreport 60");
    EXPECT_EQ(q.Written(), threaded ? 240 : 0);
  }
}

// A failed write stops the writer, as a direct run stops at it; the error names the file and is
// thrown once (by StopWriter if no Commit saw it). After StopWriter, writes are direct again.
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

// At most maxPending hand-overs wait; WaitFor waits for its own Commit only. A write waiting for
// the caller (the Exit button while the companion is awaited) is released from the caller's idle
// calls, and a task's error keeps its type, so that the run tells a stop from a failure.
TEST(FileQueue, WaitsLastOnlyAsLongAsNeededAndKeepTheCallerAlive) {
  struct Stop {};
  test::TempDir d;
  FileQueue q;
  EXPECT_EQ(q.Commit(), 0u); // without a writer thread everything is written at once
  q.StartWriter(2);
  std::atomic<int> done{0};
  for (int g = 1; g <= 20; ++g) {
    q.Run({}, [&](std::string&) { sleep_for(2ms), ++done; });
    q.Commit();
    EXPECT_GE(done.load(), g - 2) << g; // 2 may wait, the oldest of them being written
  }
  q.Run({}, [](std::string&) { sleep_for(50ms); });
  q.InPlace(d / "Gen7", "");
  const uint64_t ticket = q.Commit();
  std::atomic<bool> released{false};
  q.Run({}, [&](std::string&) {
    for (int k = 0; k < 2000 && !released; ++k) sleep_for(1ms);
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
      2ms);
  EXPECT_THROW(q.Sync(), Stop);
  EXPECT_TRUE(waited.size() >= 2 && std::is_sorted(waited.begin(), waited.end()));
  EXPECT_GE(q.WaitedSeconds(), 0.03);
  q.StopWriter();
}

// A file kept open for rewriting holds exactly each new text, even over a longer older file.
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

// A kill leaves a prefix of the writes: file g is written before row g, so rows 1..L leave the
// complete files 1..L or 1..L+1, and nothing after them.
TEST(FileQueue, AKillLeavesAPrefixOfTheWrites) {
  auto file = [](int g) { return std::string(100 + g % 50, 'a' + g % 26); };
  int mostRows = 0;
  for (long killAt : {0, 100, 1000, 5000}) { // bytes of rows written, however slow the machine
    test::TempDir d;
    auto name = [&](int g) { return d / ("f" + std::to_string(g)); };
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FileQueue q;
      AppendFile rows;
      rows.Create(d / "rows.txt");
      q.StartWriter(3);
      for (int g = 1; g <= 100000; ++g) {
        q.InPlace(name(g), file(g));
        q.Append(rows, std::to_string(g) + "\n", true);
        q.Commit();
      }
      q.StopWriter();
      ::_exit(0);
    }
    struct stat st = {};
    for (int k = 0; k < 50000 && (::stat((d / "rows.txt").c_str(), &st) || st.st_size < killAt);
         ++k)
      sleep_for(200us);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    std::string rows = FileExists(d / "rows.txt") ? ReadWholeFile(d / "rows.txt") : "";
    int L = 0;
    for (size_t at = 0; at < rows.size(); at = rows.find('\n', at) + 1) {
      ASSERT_NE(rows.find('\n', at), std::string::npos) << "a row cut in half";
      ASSERT_EQ(rows.substr(at, rows.find('\n', at) - at), std::to_string(++L));
    }
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
