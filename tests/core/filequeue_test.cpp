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

namespace {

// Every write a generation of the run makes, in miniature: a file rewritten in place (shorter,
// then longer), a row appended, a new file, and a task that looks at what is on disk when its
// turn comes.
void Generation(FileQueue& q, AppendFile& rows, const std::string& dir, int g,
                std::vector<std::string>& seen) {
  q.InPlace(dir + "/Data.txt", g % 2 ? "odd generation\r\n" : "even\r\n");
  q.Append(rows, std::to_string(g) + "\r\n", true);
  q.InPlace(dir + "/Best" + std::to_string(g) + ".dat", "report " + std::to_string(g));
  q.Run("gen " + std::to_string(g), [dir, &seen, &rows](std::string& content) {
    seen.push_back(std::string(content) + " sees " + ReadWholeFile(dir + "/Data.txt") + "|" +
                   ReadWholeFile(rows.Name()));
  });
}

std::string Expected(const std::string& dir, int gens, std::vector<std::string>& seen) {
  seen.clear();
  std::string rows;
  for (int g = 1; g <= gens; ++g) {
    rows += std::to_string(g) + "\r\n";
    seen.push_back("gen " + std::to_string(g) + " sees " +
                   (g % 2 ? "odd generation\r\n" : "even\r\n") + "|" + rows);
  }
  (void)dir;
  return rows;
}

} // namespace

// The writer thread makes the writes in the order asked, each one seeing the disk as the writes
// before it left it, across many hand-overs; the result equals the direct writes.
TEST(FileQueue, WriterThreadKeepsTheOrderOfDirectWrites) {
  for (bool threaded : {false, true}) {
    test::TempDir d;
    FileQueue q;
    AppendFile rows;
    rows.Create(d / "Data1.txt");
    if (threaded) q.StartWriter(2);
    EXPECT_EQ(q.HasWriter(), threaded);
    std::vector<std::string> seen;
    for (int g = 1; g <= 60; ++g) {
      Generation(q, rows, d.Path(), g, seen);
      if (g % 7 == 0) { // a read in the middle of the run: everything is on disk after Sync
        q.Sync();
        EXPECT_EQ(ReadWholeFile(d / ("Best" + std::to_string(g) + ".dat")),
                  "report " + std::to_string(g));
      }
      q.Commit();
    }
    q.StopWriter();
    rows.Close();
    std::vector<std::string> want;
    EXPECT_EQ(ReadWholeFile(d / "Data1.txt"), Expected(d.Path(), 60, want)) << threaded;
    EXPECT_EQ(seen, want) << threaded;
    EXPECT_EQ(ReadWholeFile(d / "Data.txt"), "even\r\n"); // cut back to its last, shorter text
    EXPECT_EQ(q.Written(), threaded ? 240 : 0);
  }
}

// A failed write stops the writer: nothing after it reaches the disk (as in a direct run, which
// stops at the failure), the error names the file and is thrown once.
TEST(FileQueue, FirstErrorStopsLaterWritesAndIsThrownOnce) {
  test::TempDir d;
  FileQueue q;
  q.StartWriter(3);
  q.InPlace(d / "before.txt", "kept");
  q.Commit();
  const std::string bad = d / "missing-folder/Best0002.dat";
  q.InPlace(bad, "lost");
  q.InPlace(d / "after.txt", "must not be written");
  std::atomic<int> tasks{0};
  q.Run({}, [&](std::string&) { ++tasks; });
  EXPECT_TRUE(test::FailsNaming([&] { q.Sync(); }, bad));
  q.InPlace(d / "later.txt", "x"); // queued after the failure: dropped
  EXPECT_NO_THROW(q.StopWriter()); // already reported
  EXPECT_EQ(ReadWholeFile(d / "before.txt"), "kept");
  EXPECT_FALSE(FileExists(d / "after.txt"));
  EXPECT_FALSE(FileExists(d / "later.txt"));
  EXPECT_EQ(tasks, 0);
  // StopWriter reports an error that no Commit saw.
  FileQueue q2;
  q2.StartWriter();
  q2.InPlace(bad, "lost");
  EXPECT_TRUE(test::FailsNaming([&] { q2.StopWriter(); }, bad));
  // After the writer has stopped, writes are direct again and fail at once.
  EXPECT_TRUE(test::FailsNaming([&] { q2.InPlace(bad, "lost"); }, bad));
}

// A write that waits for something the caller must do (in the run: the Exit button while the
// writer waits for the companion) is released from the caller's idle calls, and the error a task
// throws reaches the caller with its own type, so that the run can tell a stop from a failure.
TEST(FileQueue, CallerStaysAliveWhileAWriteWaitsAndSeesTheTaskStop) {
  struct Stop {
    int gen;
  };
  FileQueue q;
  q.StartWriter(2);
  std::atomic<bool> released{false};
  std::vector<double> waited; // by the caller's thread only
  q.SetIdle(
      [&](std::chrono::steady_clock::duration w) {
        waited.push_back(std::chrono::duration<double>(w).count());
        if (waited.back() >= 0.03) released = true;
      },
      std::chrono::milliseconds(2));
  bool ran = false;
  q.Run({}, [&](std::string&) {
    for (int k = 0; k < 2000 && !released; ++k)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!released) return; // not released: the idle calls never came
    ran = true;
    throw Stop{7};
  });
  q.Run({}, [](std::string&) { ADD_FAILURE() << "a write after the stop was made"; });
  try {
    q.Sync();
    ADD_FAILURE() << "the stop was not thrown";
  } catch (const Stop& s) {
    EXPECT_EQ(s.gen, 7);
  }
  EXPECT_TRUE(ran);
  ASSERT_GE(waited.size(), 2u);
  EXPECT_TRUE(std::is_sorted(waited.begin(), waited.end()));
  EXPECT_GE(q.WaitedSeconds(), 0.03);
  q.StopWriter();
}

// The producer never runs more than maxPending hand-overs ahead of the disk.
TEST(FileQueue, CommitWaitsWhenTheWriterFallsBehind) {
  test::TempDir d;
  FileQueue q;
  q.StartWriter(2);
  std::atomic<int> done{0};
  for (int g = 1; g <= 20; ++g) {
    q.Run({}, [&](std::string&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ++done;
    });
    q.Commit();
    // g hand-overs so far; at most 2 wait, the oldest of them may be in the writer's hands.
    EXPECT_GE(done.load(), g - 2) << g;
  }
  q.StopWriter();
  EXPECT_EQ(done, 20);
}

// A file rewritten every generation stays open: each text replaces the whole content, an older
// and longer file left in its place is cut at the first write, and a failure names the file.
TEST(RewrittenFile, EachWriteLeavesExactlyTheNewText) {
  test::TempDir d;
  const std::string path = d / "DimA.txt";
  WriteFileInPlace(path, std::string(5000, 'x')); // left by an earlier run
  RewrittenFile f;
  for (std::string text : {"first text\r\n", "short", "", "a longer text than before\r\n"}) {
    f.Write(path, text);
    EXPECT_EQ(ReadWholeFile(path), text);
  }
  const std::string other = d / "DimB.txt";
  f.Write(other, "b");
  f.Write(path, "a"); // back to the first name: reopened, still cut to the new text
  EXPECT_EQ(ReadWholeFile(path), "a");
  EXPECT_EQ(ReadWholeFile(other), "b");
  f.Close();
  const std::string bad = d / "no-folder/DimC.txt";
  EXPECT_TRUE(test::FailsNaming([&] { f.Write(bad, "c"); }, bad));
}

// Killed at any moment, a run with a writer thread leaves a prefix of its writes: file g is
// written before row g is appended, so the rows found are 1..L and the files 1..L or 1..L+1,
// each complete, and nothing after them.
TEST(FileQueue, AKillLeavesAPrefixOfTheWrites) {
  int mostRows = 0;
  // Fixed delays, then (-1) a kill once the child has written some rows, however slow the
  // machine is.
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
        q.InPlace(d / ("f" + std::to_string(g)), std::string(100 + g % 50, 'a' + g % 26));
        q.Append(rows, std::to_string(g) + "\n", true);
        q.Commit();
      }
      q.StopWriter();
      ::_exit(0);
    }
    if (delayUs >= 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
    } else {
      for (int k = 0; k < 10000; ++k) {
        struct stat st = {};
        if (::stat((d / "rows.txt").c_str(), &st) == 0 && st.st_size > 200) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::string rows = FileExists(d / "rows.txt") ? ReadWholeFile(d / "rows.txt") : "";
    int L = 0;
    for (size_t at = 0; at < rows.size(); at = rows.find('\n', at) + 1) {
      ASSERT_NE(rows.find('\n', at), std::string::npos) << "a row cut in half";
      ASSERT_EQ(rows.substr(at, rows.find('\n', at) - at), std::to_string(++L));
    }
    int files = 0;
    while (FileExists(d / ("f" + std::to_string(files + 1)))) {
      ++files;
      if (files <= L) { // written and closed before its row
        ASSERT_EQ(ReadWholeFile(d / ("f" + std::to_string(files))),
                  std::string(100 + files % 50, 'a' + files % 26));
      }
    }
    EXPECT_TRUE(files == L || files == L + 1) << L << " rows, " << files << " files";
    mostRows = std::max(mostRows, L);
    EXPECT_FALSE(FileExists(d / ("f" + std::to_string(files + 2))));
  }
  EXPECT_GT(mostRows, 0) << "no kill landed while the writes were being made";
}

// WaitFor waits for the writes up to a Commit, not for those handed over after it.
TEST(FileQueue, WaitForATicketLeavesLaterWritesRunning) {
  test::TempDir d;
  FileQueue q;
  EXPECT_EQ(q.Commit(), 0u); // without a writer thread everything is written at once
  q.StartWriter(4);
  q.InPlace(d / "Gen7", "");
  const uint64_t ticket = q.Commit();
  std::atomic<bool> release{false}, later{false};
  q.Run({}, [&](std::string&) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    later = true;
  });
  EXPECT_GT(q.Commit(), ticket);
  q.WaitFor(ticket);
  EXPECT_TRUE(FileExists(d / "Gen7"));
  EXPECT_FALSE(later);
  release = true;
  q.Sync();
  EXPECT_TRUE(later);
  q.StopWriter();
}
