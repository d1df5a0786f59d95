#include <filesystem>
#include <gtest/gtest.h>

#include "../testutil.h"
#include "core/errors.h"
#include "core/ini.h"

using namespace zupo;

static const char* const kIni = "[Common]\r\n"
                                "  Tree_Path1 =  C:\\Zupo\\run  \r\n"
                                ";Hidden=1\r\n"
                                "Stop_No=12\r\n"
                                "Missing=Not_Found\r\n"
                                "Lower=not_found\r\n"
                                "\r\n"
                                "[Traders]\r\n"
                                "G_Gap=5\r\n";

struct Ini : ::testing::Test {
  test::TempDir d;
  std::string f = d / "Zupo.ini";
  Ini() { WriteFileInPlace(f, kIni); }
};

TEST_F(Ini, ReadMatchesNamesWithoutCaseTrimsValuesAndHidesNotFound) {
  EXPECT_EQ(ReadIniStr("COMMON", "tree_path1", f), "C:\\Zupo\\run");
  EXPECT_EQ(ReadIniStr("Traders", "G_Gap", f), "5");
  EXPECT_EQ(ReadIniStr("Common", "G_Gap", f), "");  // the key of another section
  EXPECT_EQ(ReadIniStr("Common", "Hidden", f), ""); // a comment line
  EXPECT_EQ(ReadIniStr("Common", "Missing", f), "");
  EXPECT_EQ(ReadIniStr("Common", "Lower", f), "not_found"); // the rule is case-sensitive
  EXPECT_EQ(ReadIniStr("Common", "NoSuchKey", f), "");
  EXPECT_EQ(ReadIniStr("NoSuchSection", "Stop_No", f), "");
  EXPECT_EQ(ReadIniStr("Common", "Stop_No", d / "none.ini"), "");
}

TEST_F(Ini, WriteReplacesInPlaceOrAppendsCreatingSectionAndFile) {
  IniWrite(f, "Common", "Stop_No", "13");
  IniWrite(f, "TRADERS", "G_Gap", "7"); // the last line of the file
  std::string expected = kIni;
  expected.replace(expected.find("Stop_No=12"), 10, "Stop_No=13");
  expected.replace(expected.find("G_Gap=5"), 7, "G_Gap=7");
  EXPECT_EQ(ReadWholeFile(f), expected);
  std::string g = d / "New.ini";
  IniWrite(g, "Common", "Running", "1");
  EXPECT_EQ(ReadWholeFile(g), "[Common]\r\nRunning=1\r\n");
  WriteFileInPlace(g, "[Traders]\r\nFull=1"); // no final line end
  IniWrite(g, "Common", "Running", "1");
  IniWrite(g, "Traders", "Grow", "2"); // after the last line of its section
  EXPECT_EQ(ReadWholeFile(g), "[Traders]\r\nFull=1\r\nGrow=2\r\n\r\n[Common]\r\nRunning=1\r\n");
  WriteFileInPlace(g, "[Common]\n; note\nexit = 0\n\n[Traders]\nFull=1"); // LF line ends stay
  IniWrite(g, "Common", "Exit", "1");
  EXPECT_EQ(ReadWholeFile(g), "[Common]\n; note\nExit=1\n\n[Traders]\nFull=1");
}

TEST_F(Ini, WriteGoesThroughTheSwapFileAndNeverLeavesAPartialFile) {
  for (int g = 1; g <= 20; ++g) IniWrite(f, "Common", "Stop_No", std::to_string(g));
  EXPECT_EQ(ReadIniStr("Common", "Stop_No", f), "20");
  EXPECT_EQ(ReadIniStr("Common", "Stop_No", f + ".swap"), "19"); // the previous text
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.Path()), {}), 2); // nothing else
  // The swap file cannot be made (its name is too long): an error, the file stays whole.
  std::string longIni = d / std::string(252, 'z');
  WriteFileInPlace(longIni, kIni);
  EXPECT_THROW(IniWrite(longIni, "Common", "Stop_No", "21"), RunError);
  EXPECT_EQ(ReadWholeFile(longIni), kIni);
}
