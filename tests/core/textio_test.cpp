#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../testutil.h"
#include "core/filequeue.h"
#include "core/format.h"
#include "core/ini.h"
#include "core/paths.h"
#include "core/textio.h"

using namespace zupo;
using std::this_thread::sleep_for;
using test::FailsNaming;
using namespace std::chrono_literals;

TEST(TextReader, FreeFormatNumbersLinesAndErrorsNamingTheFile) {
  TextReader r("Data.txt", "  1.5\t-3 +5\r\n.5\n1E-3 12e2\r\n\r\n  7  \t\r\n");
  for (long double e : {1.5L, -3.0L, 5.0L, 0.5L, 1e-3L, 1200.0L}) EXPECT_EQ(r.ReadReal(), e);
  EXPECT_EQ(r.ReadInt(), 7);
  EXPECT_TRUE(FailsNaming([&] { r.ReadReal(); }, "Data.txt")); // past the end
  for (std::string junk : {"1.2.3", "nan", "0x10", "1e", "+-5", "1,5", "5x", "."})
    EXPECT_TRUE(FailsNaming([&] { TextReader("Dstar.txt", junk).ReadReal(); }, "Dstar.txt", junk));
  for (std::string junk : {"1.5", "99999999999999999999"})
    EXPECT_TRUE(FailsNaming([&] { TextReader("Dstar.txt", junk).ReadInt(); }, "Dstar.txt", junk));
  TextReader l("f", "1 2 3\r\n4 5\n6 junk\r7\r\n   123.45678\r\nnext");
  for (int e : {1, 4, 6}) { // lines ended by CR LF, LF and a lone CR
    EXPECT_EQ(l.ReadReal(), e);
    l.SkipLine();
  }
  for (const char* line : {"7", "   123.45678"}) EXPECT_EQ(l.ReadLine(), line);
  EXPECT_EQ(l.ReadChar(), 'n');
  EXPECT_EQ(l.ReadLine(), "ext");
  EXPECT_TRUE(l.Eof());
  EXPECT_EQ(l.ReadChar(), '\x1a');
}

// Fixed notation writes every integer digit: the reader takes the whole word, up to the range end.
TEST(TextReader, NumbersOfAnyLengthRoundTripAndOverflowIsNamed) {
  for (long double v : {1e70L, -1e400L, 1e4000L, 1.18e4932L, 123456789.125L}) {
    TextReader r("Backup1.txt", FormatFixed(v, 12, 5) + "\r\n7\r\n");
    EXPECT_EQ(r.ReadReal(), v);
    r.SkipLine();
    EXPECT_EQ(r.ReadReal(), 7); // the next line is where it was
  }
  const std::string huge = "1" + std::string(4940, '0') + ".00000";
  EXPECT_TRUE(FailsNaming([&] { TextReader("f", huge).ReadReal(); }, "f: ", "overflow"));
  EXPECT_TRUE(FailsNaming([&] { TextReader("f", "-2e5000").ReadReal(); }, "f: ", "\"-2e5000\""));
  for (std::string tiny : {"1e-5000", "0.0000e-9999", "-3E-6000"})
    EXPECT_EQ(TextReader("f", tiny).ReadReal(), 0) << tiny; // below the range: 0, as stored
  EXPECT_EQ(TextReader("f", "1.7E38").ReadReal6(), Round6(1.7e38L));
  EXPECT_TRUE(FailsNaming([&] { TextReader("DimA.txt", " 2E+0038\r\n").ReadReal6(); },
                          "DimA.txt: floating-point overflow: \"2E+0038\""));
}

// A fifo would block the run for ever; a file beyond 1 GB is refused before it is read.
TEST(TextFiles, WriteInPlaceAtomicAndAppendAndReadOnlyRegularFilesUpTo1GB) {
  test::TempDir d;
  const std::string f = d / "T0001.dat", longName = d / std::string(252, 'D');
  const std::string fifo = d / "Data.txt", big = d / "DimA.txt";
  WriteFileInPlace(f, "a much longer first content\r\n");
  WriteFileInPlace(f, "short");
  EXPECT_EQ(ReadWholeFile(f), "short"); // cut to the new length
  WriteFileAtomic(f, "new");
  EXPECT_EQ(ReadWholeFile(f), "new");
  // The temporary cannot be created (its name is too long): an error, the old file untouched.
  WriteFileInPlace(longName, "old content");
  EXPECT_THROW(WriteFileAtomic(longName, "new"), RunError);
  EXPECT_EQ(ReadWholeFile(longName), "old content");
  AppendFile a;
  a.Create(f); // starts empty
  a.Write("GEN\r\n");
  a.Close();
  a.OpenAppend(f);
  a.Write("1\r\n");
  a.Flush();
  EXPECT_EQ(ReadWholeFile(f), "GEN\r\n1\r\n");
  a.Close();
  EXPECT_TRUE(FailsNaming([&] { a.Write("x"); }, f));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_TRUE(FailsNaming([&] { ReadWholeFile(fifo); }, fifo, "not a regular file"));
  int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0644); // sparse: no disk space used
  ASSERT_EQ(::ftruncate(fd, MaxInputBytes + 1), 0);
  ::close(fd);
  const std::string size = std::to_string(MaxInputBytes + 1); // refused before it is read
  EXPECT_TRUE(FailsNaming([&] { ReadWholeFile(big); }, big, "larger than 1 GB (" + size));
  ASSERT_EQ(::truncate(big.c_str(), 3), 0);
  EXPECT_EQ(ReadWholeFile(big), std::string(3, '\0'));
}

static const char kIni[] = "[Common]\r\n  Path =  C:\\run  \r\n;Hidden=1\r\nStop_No=12\r\n"
                           "Missing=Not_Found\r\nLower=not_found\r\n\r\n[Traders]\r\nG_Gap=5\r\n";

struct Ini : ::testing::Test {
  test::TempDir d;
  std::string f = d / "Zupo.ini";
  Ini() { WriteFileInPlace(f, kIni); }
};

TEST_F(Ini, ReadMatchesNamesWithoutCaseTrimsValuesAndHidesNotFound) {
  EXPECT_EQ(ReadIniStr("COMMON", "path", f), "C:\\run");
  EXPECT_EQ(ReadIniStr("Traders", "G_Gap", f), "5");
  EXPECT_EQ(ReadIniStr("Common", "G_Gap", f), "");  // the key of another section
  EXPECT_EQ(ReadIniStr("Common", "Hidden", f), ""); // a comment line
  EXPECT_EQ(ReadIniStr("Common", "Missing", f), "");
  EXPECT_EQ(ReadIniStr("Common", "Lower", f), "not_found"); // the rule is case-sensitive
  EXPECT_EQ(ReadIniStr("Common", "Stop_No", d / "none.ini"), "");
}

TEST_F(Ini, WriteKeepsTheRestOfTheFileAndNeverLeavesAPartialOne) {
  IniWrite(f, "Common", "Stop_No", "1");
  IniWrite(f, "TRADERS", "G_Gap", "7"); // the last line; shorter than the swap file's text
  std::string expected = kIni;
  expected.replace(expected.find("Stop_No=12"), 10, "Stop_No=1");
  EXPECT_EQ(ReadWholeFile(f + ".swap"), expected); // the previous text
  expected.replace(expected.find("G_Gap=5"), 7, "G_Gap=7");
  EXPECT_EQ(ReadWholeFile(f), expected);
  // The swap file cannot be made (its name is too long): an error, the file stays whole.
  std::string longIni = d / std::string(252, 'z');
  WriteFileInPlace(longIni, kIni);
  EXPECT_THROW(IniWrite(longIni, "Common", "Stop_No", "21"), RunError);
  EXPECT_EQ(ReadWholeFile(longIni), kIni);
  // New keys go after the last line of their section; a missing section or file is created.
  std::string g = d / "New.ini";
  IniWrite(g, "Traders", "Full", "1");
  IniWrite(g, "Common", "Running", "1");
  IniWrite(g, "Traders", "Grow", "2");
  EXPECT_EQ(ReadWholeFile(g), "[Traders]\r\nFull=1\r\nGrow=2\r\n\r\n[Common]\r\nRunning=1\r\n");
  // LF line ends and a UTF-8 byte-order mark (Windows editors) stay; a key or a section appended
  // after a last line without a line end starts a line of its own.
  WriteFileInPlace(g, "\xEF\xBB\xBF[Common]\n; note\nexit = 0\n\n[Traders]\nFull=1");
  EXPECT_EQ(ReadIniStr("Common", "Exit", g), "0");
  IniWrite(g, "Common", "Exit", "1");
  IniWrite(g, "Traders", "Grow", "2");
  EXPECT_EQ(ReadWholeFile(g),
            "\xEF\xBB\xBF[Common]\n; note\nExit=1\n\n[Traders]\nFull=1\r\nGrow=2\r\n");
  WriteFileInPlace(g, "[Traders]\nFull=1");
  IniWrite(g, "Run", "Stop", "1");
  EXPECT_EQ(ReadWholeFile(g), "[Traders]\nFull=1\r\n\r\n[Run]\r\nStop=1\r\n");
}

TEST(Paths, MapSeparatorsAndResolve) {
  EXPECT_EQ(ResolvePath("/home/zupo", "run\\Data.txt"), "/home/zupo/run/Data.txt");
  EXPECT_EQ(ResolvePath("/home/zupo/", "..\\other\\Data.txt"), "/home/zupo/../other/Data.txt");
  EXPECT_EQ(ResolvePath("/home/zupo", "\\data\\run\\"), "/data/run/"); // absolute
  EXPECT_EQ(ResolvePath("/home/zupo", ""), "");                        // fails when opened
  EXPECT_EQ(ResolvePath("", "run\\x"), "run/x");
  EXPECT_EQ(FolderOf("Zupo.ini") + FolderOf("/runs/a/Zupo.ini"), ".//runs/a/");
  for (const char* folder : {"run/", "run"})
    EXPECT_EQ(FileInFolder(folder, "Data1.txt"), "run/Data1.txt");
}

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
    for (; FileExists(name(files + 1)); ++files) // those before a row written and closed
      ASSERT_TRUE(files >= L || ReadWholeFile(name(files + 1)) == file(files + 1)) << files + 1;
    EXPECT_TRUE(files == L || files == L + 1) << L << " rows, " << files << " files";
    EXPECT_FALSE(FileExists(name(files + 2)));
    mostRows = std::max(mostRows, L);
  }
  EXPECT_GT(mostRows, 0) << "no kill landed while the writes were being made";
}
