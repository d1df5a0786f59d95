#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

#include "../testutil.h"
#include "core/errors.h"
#include "core/textio.h"

namespace zupo {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

// The message of the RunError that f raises ("" when it raises none).
template <class F> std::string ErrorOf(F f) {
  try {
    f();
  } catch (const RunError& e) {
    return e.what();
  }
  return "";
}

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(TextReader, FreeFormatNumbersAcrossBlanksTabsAndLineEnds) {
  TextReader r("Data.txt", "  1.5\t-3 +5\r\n.5\n1E-3 12e2\r\n\r\n  7  \t\r\n");
  const long double expected[] = {1.5L, -3, 5, 0.5L, 1e-3L, 1200};
  for (long double e : expected) EXPECT_EQ(r.ReadReal(), e);
  EXPECT_EQ(r.ReadInt(), 7);
  EXPECT_FALSE(r.Eof()); // blanks and a line end remain
  long double v = 99;
  EXPECT_FALSE(r.TryReadReal(v));
  EXPECT_EQ(v, 99);
  std::string msg = ErrorOf([&] { r.ReadReal(); });
  EXPECT_NE(msg.find("Data.txt"), std::string::npos) << msg;
  EXPECT_NE(msg.find("end of file"), std::string::npos) << msg;
}

TEST(TextReader, RejectsJunkNamingTheFileAndTheWord) {
  for (const char* junk :
       {"1.2.3", "nan", "inf", "0x10", "1e", "-", "+", "+-5", "--5", "1,5", "abc", "5x", "."}) {
    TextReader r("Dstar.txt", std::string("  ") + junk + " 1");
    std::string msg = ErrorOf([&] { r.ReadReal(); });
    EXPECT_NE(msg.find("Dstar.txt"), std::string::npos) << junk << ": " << msg;
    EXPECT_NE(msg.find(junk), std::string::npos) << junk << ": " << msg;
  }
  for (const char* junk : {"1.5", "1E3", "+-5", "x", "99999999999999999999"}) {
    TextReader r("Backup1.txt", junk);
    EXPECT_NE(ErrorOf([&] { r.ReadInt(); }).find("Backup1.txt"), std::string::npos) << junk;
  }
  TextReader ok("f", "+12 -0 0012");
  EXPECT_EQ(ok.ReadInt(), 12);
  EXPECT_EQ(ok.ReadInt(), 0);
  EXPECT_EQ(ok.ReadInt(), 12);
}

TEST(TextReader, WordsAreCutAfterSixtyFourCharacters) {
  std::string seventy = "1" + std::string(69, '0');
  TextReader r("f", seventy + " 2");
  EXPECT_EQ(r.ReadReal(), 1e63L); // "1" and 63 zeros
  EXPECT_EQ(r.ReadReal(), 0);     // the 6 zeros left over
  EXPECT_EQ(r.ReadReal(), 2);
}

TEST(TextReader, SkipLineHandlesCrLfLfAndLoneCr) {
  TextReader r("f", "1 2 3\r\n4 5\n6 junk\r7\r\n\n8");
  EXPECT_EQ(r.ReadReal(), 1);
  r.SkipLine();
  EXPECT_EQ(r.ReadReal(), 4);
  r.SkipLine();
  EXPECT_EQ(r.ReadReal(), 6);
  r.SkipLine(); // discards " junk" up to the lone CR
  EXPECT_EQ(r.ReadReal(), 7);
  r.SkipLine(); // the rest of the line "7\r\n"
  r.SkipLine(); // the empty line
  EXPECT_EQ(r.ReadLine(), "8");
  EXPECT_TRUE(r.Eof());
  r.SkipLine(); // at the end: nothing happens
  EXPECT_TRUE(r.Eof());
  TextReader l("f", "a b\r\n\r\nc\nd");
  EXPECT_EQ(l.ReadLine(), "a b");
  EXPECT_EQ(l.ReadLine(), "");
  EXPECT_EQ(l.ReadLine(), "c");
  EXPECT_EQ(l.ReadLine(), "d");
  EXPECT_TRUE(l.Eof());
}

TEST(TextReader, ReadCharGivesCtrlZAtEnd) {
  TextReader r("f", "A\r\n");
  EXPECT_EQ(r.ReadChar(), 'A');
  EXPECT_EQ(r.ReadChar(), '\r');
  EXPECT_EQ(r.ReadChar(), '\n');
  EXPECT_TRUE(r.Eof());
  EXPECT_EQ(r.ReadChar(), '\x1a');
  EXPECT_EQ(r.ReadChar(), '\x1a');
  EXPECT_TRUE(TextReader("f", "").Eof());
}

TEST(TextReader, ReadFieldSplitsFixedWidthColumnsWithinTheLine) {
  TextReader r("f", "   123.45678   9.87654\r\nnext");
  EXPECT_EQ(r.ReadField(12), "   123.45678");
  EXPECT_EQ(r.ReadField(10), "   9.87654");
  EXPECT_EQ(r.ReadField(5), ""); // stops at the line end without consuming it
  EXPECT_EQ(r.ReadField(5), "");
  r.SkipLine();
  EXPECT_EQ(r.ReadField(3), "nex");
  EXPECT_EQ(r.ReadField(10), "t");
  EXPECT_TRUE(r.Eof());
}

TEST(TextReader, OpenReadsTheFileOrNamesIt) {
  TempDir d;
  test::WriteText(d / "Mape.txt", "0.5\r\n0.25\r\n");
  TextReader r = TextReader::Open(d / "Mape.txt");
  EXPECT_EQ(r.ReadReal(), 0.5L);
  EXPECT_EQ(r.ReadReal(), 0.25L);
  EXPECT_NE(ErrorOf([&] { TextReader::Open(d / "Missing.txt"); }).find(d / "Missing.txt"),
            std::string::npos);
}

TEST(WriteFileInPlace, CreatesOverwritesAndTruncates) {
  TempDir d;
  std::string f = d / "T0001.dat";
  WriteFileInPlace(f, "a much longer first content\r\n");
  EXPECT_EQ(ReadWholeFile(f), "a much longer first content\r\n");
  WriteFileInPlace(f, "short");
  EXPECT_EQ(ReadWholeFile(f), "short");
  WriteFileInPlace(f, "");
  EXPECT_EQ(ReadWholeFile(f), "");
  std::string bad = d / "nofolder/T0002.dat";
  EXPECT_NE(ErrorOf([&] { WriteFileInPlace(bad, "x"); }).find(bad), std::string::npos);
}

TEST(WriteFileAtomic, ReplacesWholeAndLeavesNoTemporary) {
  TempDir d;
  std::string f = d / "Backup1.txt";
  WriteFileAtomic(f, "first, longer content");
  WriteFileAtomic(f, "second");
  EXPECT_EQ(ReadWholeFile(f), "second");
  EXPECT_EQ(Listing(d.Path()), std::vector<std::string>{"Backup1.txt"});
}

TEST(WriteFileAtomic, FailureKeepsTheOldFile) {
  TempDir d;
  // The target is a folder: the rename fails, the folder and its content stay.
  fs::create_directory(d / "Zupo.ini");
  test::WriteText(d / "Zupo.ini/inside", "keep");
  EXPECT_NE(ErrorOf([&] { WriteFileAtomic(d / "Zupo.ini", "new"); }).find(d / "Zupo.ini"),
            std::string::npos);
  EXPECT_EQ(ReadWholeFile(d / "Zupo.ini/inside"), "keep");
  EXPECT_EQ(Listing(d.Path()), std::vector<std::string>{"Zupo.ini"});
  // The temporary cannot be created (its name is too long): the old file is untouched.
  std::string longName = d / std::string(252, 'D');
  test::WriteText(longName, "old content");
  EXPECT_NE(ErrorOf([&] { WriteFileAtomic(longName, "new"); }), "");
  EXPECT_EQ(ReadWholeFile(longName), "old content");
  EXPECT_NE(ErrorOf([&] { WriteFileAtomic(d / "none/Data.txt", "x"); }).find("none/Data.txt"),
            std::string::npos);
}

TEST(AppendFile, CreateAppendReopenAndErrors) {
  TempDir d;
  std::string f = d / "Data1.txt";
  test::WriteText(f, "stale content from an older run");
  {
    AppendFile a;
    a.Create(f); // starts empty
    a.Write("GEN\r\n");
    a.Flush();
    EXPECT_EQ(ReadWholeFile(f), "GEN\r\n");
    a.Write("1\r\n");
    a.Close();
    EXPECT_FALSE(a.IsOpen());
    EXPECT_NE(ErrorOf([&] { a.Write("x"); }).find(f), std::string::npos);
  }
  EXPECT_EQ(ReadWholeFile(f), "GEN\r\n1\r\n");
  {
    AppendFile a;
    a.OpenAppend(f);
    a.Write("2\r\n");
  } // closing on destruction writes what is buffered
  EXPECT_EQ(ReadWholeFile(f), "GEN\r\n1\r\n2\r\n");
  AppendFile b;
  std::string bad = d / "norun/Data2.txt";
  EXPECT_NE(ErrorOf([&] { b.Create(bad); }).find(bad), std::string::npos);
  EXPECT_NE(ErrorOf([&] { b.OpenAppend(bad); }).find(bad), std::string::npos);
  EXPECT_NE(ErrorOf([&] { b.OpenAppend(d / "Data2.txt"); }), ""); // resuming needs the file
}

} // namespace
} // namespace zupo
