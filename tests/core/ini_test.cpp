#include <gtest/gtest.h>

#include "../testutil.h"
#include "core/ini.h"
#include "core/paths.h"

using namespace zupo;

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
  WriteFileInPlace(g, "[Common]\n; note\nexit = 0\n\n[Traders]\nFull=1"); // LF line ends stay
  IniWrite(g, "Common", "Exit", "1");
  IniWrite(g, "Run", "Stop", "1"); // the last line has no line end
  EXPECT_EQ(ReadWholeFile(g),
            "[Common]\n; note\nExit=1\n\n[Traders]\nFull=1\r\n\r\n[Run]\r\nStop=1\r\n");
}

// A UTF-8 byte-order mark (Windows editors) is kept; a key appended after a last line without a
// line end starts a line of its own.
TEST_F(Ini, ByteOrderMarkAndUnterminatedLastLine) {
  WriteFileInPlace(f, "\xEF\xBB\xBF[Common]\r\nStop_No=12\r\n\r\n[Traders]\r\nG_Gap=5");
  EXPECT_EQ(ReadIniStr("Common", "Stop_No", f), "12");
  IniWrite(f, "Common", "Stop_No", "3");
  IniWrite(f, "Traders", "Gen_No", "9");
  EXPECT_EQ(ReadWholeFile(f),
            "\xEF\xBB\xBF[Common]\r\nStop_No=3\r\n\r\n[Traders]\r\nG_Gap=5\r\nGen_No=9\r\n");
}

TEST(Paths, MapSeparatorsAndResolve) {
  EXPECT_EQ(ResolvePath("/home/zupo", "run\\Data.txt"), "/home/zupo/run/Data.txt");
  EXPECT_EQ(ResolvePath("/home/zupo/", "..\\other\\Data.txt"), "/home/zupo/../other/Data.txt");
  EXPECT_EQ(ResolvePath("/home/zupo", "\\data\\run\\"), "/data/run/"); // absolute
  EXPECT_EQ(ResolvePath("/home/zupo", ""), "");                        // fails when opened
  EXPECT_EQ(ResolvePath("", "run\\x"), "run/x");
  EXPECT_EQ(FolderOf("Zupo.ini") + FolderOf("/runs/a/Zupo.ini"), ".//runs/a/");
  EXPECT_EQ(FileInFolder("run/", "Data1.txt"), "run/Data1.txt");
  EXPECT_EQ(FileInFolder("run", "Data1.txt"), "run/Data1.txt");
}
