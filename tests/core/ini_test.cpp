#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

#include "../testutil.h"
#include "core/errors.h"
#include "core/ini.h"

namespace zupo {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;
namespace fs = std::filesystem;

const char* const kIni = "; Zupo settings\r\n"
                         "[Common]\r\n"
                         "  Tree_Path1 =  C:\\Zupo\\run  \r\n"
                         ";Hidden=1\r\n"
                         "Stop_No=12\r\n"
                         "stop_no=99\r\n"
                         "Missing=Not_Found\r\n"
                         "Lower=not_found\r\n"
                         "Padded= Not_Found \r\n"
                         "Longer=Not_Found2\r\n"
                         "Empty=\r\n"
                         "\r\n"
                         "[Traders]\r\n"
                         "G_Gap=5\r\n";

TEST(ReadIniStr, MatchesNamesWithoutCaseAndTrimsValues) {
  TempDir d;
  std::string f = d / "Zupo.ini";
  WriteText(f, kIni);
  EXPECT_EQ(ReadIniStr("Common", "Tree_Path1", f), "C:\\Zupo\\run");
  EXPECT_EQ(ReadIniStr("COMMON", "tree_path1", f), "C:\\Zupo\\run");
  EXPECT_EQ(ReadIniStr("common", "STOP_NO", f), "12"); // the first of two spellings wins
  EXPECT_EQ(ReadIniStr("Traders", "G_Gap", f), "5");
  EXPECT_EQ(ReadIniStr("Common", "G_Gap", f), "");  // the key of another section
  EXPECT_EQ(ReadIniStr("Common", "Hidden", f), ""); // a comment line
  EXPECT_EQ(ReadIniStr("Common", "; Zupo settings", f), "");
  EXPECT_EQ(ReadIniStr("Common", "Empty", f), "");
  EXPECT_EQ(IniRead(f, "Common", "Nothing", "dflt"), "dflt");
  EXPECT_EQ(IniRead(f, "Nowhere", "Stop_No", "dflt"), "dflt");
  EXPECT_EQ(IniRead(d / "none.ini", "Common", "Stop_No", "dflt"), "dflt");
}

TEST(ReadIniStr, NotFoundReadsAsEmpty) {
  TempDir d;
  std::string f = d / "Zupo.ini";
  WriteText(f, kIni);
  EXPECT_EQ(ReadIniStr("Common", "Missing", f), "");
  EXPECT_EQ(ReadIniStr("Common", "Padded", f), "");
  EXPECT_EQ(ReadIniStr("Common", "Lower", f), "not_found"); // the rule is case-sensitive
  EXPECT_EQ(ReadIniStr("Common", "Longer", f), "Not_Found2");
  EXPECT_EQ(ReadIniStr("Common", "NoSuchKey", f), "");
  EXPECT_EQ(ReadIniStr("NoSuchSection", "Stop_No", f), "");
  EXPECT_EQ(ReadIniStr("Common", "Stop_No", d / "none.ini"), "");
  WriteText(f, "[Common]\nA=1"); // LF line ends, no final line end
  EXPECT_EQ(ReadIniStr("Common", "A", f), "1");
}

TEST(IniWrite, ReplacesInPlaceKeepingEveryOtherByte) {
  TempDir d;
  std::string f = d / "Zupo.ini";
  WriteText(f, kIni);
  IniWrite(f, "Common", "Stop_No", "13");
  std::string expected = kIni;
  expected.replace(expected.find("Stop_No=12"), 10, "Stop_No=13");
  EXPECT_EQ(ReadText(f), expected);
  IniWrite(f, "TRADERS", "G_Gap", "7"); // last line of the file
  expected.replace(expected.find("G_Gap=5"), 7, "G_Gap=7");
  EXPECT_EQ(ReadText(f), expected);
  WriteText(f, "[Common]\n; note\nRunning=0\nExit=0\n\n[Traders]\nFull=1\n");
  IniWrite(f, "Common", "Exit", "1");
  EXPECT_EQ(ReadText(f), "[Common]\n; note\nRunning=0\nExit=1\n\n[Traders]\nFull=1\n");
  WriteText(f, "[Common]\r\nexit = 0");
  IniWrite(f, "Common", "Exit", "1");
  EXPECT_EQ(ReadText(f), "[Common]\r\nExit=1");
  EXPECT_EQ(ReadIniStr("Common", "Exit", f), "1");
}

TEST(IniWrite, AppendsAMissingKeyAtTheEndOfItsSection) {
  TempDir d;
  std::string f = d / "Zupo.ini";
  WriteText(f, "[Common]\r\nRunning=1\r\n\r\n[Traders]\r\nFull=1\r\n");
  IniWrite(f, "Common", "No_Memory", "1");
  EXPECT_EQ(ReadText(f), "[Common]\r\nRunning=1\r\nNo_Memory=1\r\n\r\n[Traders]\r\nFull=1\r\n");
  IniWrite(f, "Traders", "Grow", "2");
  EXPECT_EQ(ReadText(f),
            "[Common]\r\nRunning=1\r\nNo_Memory=1\r\n\r\n[Traders]\r\nFull=1\r\nGrow=2\r\n");
  WriteText(f, "[Common]"); // a section line without a line end
  IniWrite(f, "Common", "Exit", "0");
  EXPECT_EQ(ReadText(f), "[Common]\r\nExit=0\r\n");
}

TEST(IniWrite, CreatesTheSectionAndTheFile) {
  TempDir d;
  std::string f = d / "Zupo.ini";
  IniWrite(f, "Common", "Running", "1");
  EXPECT_EQ(ReadText(f), "[Common]\r\nRunning=1\r\n");
  WriteText(f, "[Traders]\r\nFull=1"); // no final line end
  IniWrite(f, "Common", "Running", "1");
  EXPECT_EQ(ReadText(f), "[Traders]\r\nFull=1\r\n\r\n[Common]\r\nRunning=1\r\n");
  EXPECT_EQ(ReadIniStr("Common", "Running", f), "1");
  EXPECT_EQ(ReadIniStr("Traders", "Full", f), "1");
  std::string bad = d / "nofolder/Zupo.ini";
  try {
    IniWrite(bad, "Common", "Running", "1");
    FAIL();
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
  }
}

TEST(IniWrite, ReplacesTheFileAtomically) {
  TempDir d;
  std::string f = d / "Zupo.ini";
  WriteText(f, kIni);
  for (int g = 1; g <= 20; ++g) IniWrite(f, "Common", "Stop_No", std::to_string(g));
  EXPECT_EQ(ReadIniStr("Common", "Stop_No", f), "20");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(d.Path()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  // Only the swap file beside it, holding the previous text.
  EXPECT_EQ(names, (std::vector<std::string>{"Zupo.ini", "Zupo.ini.swap"}));
  EXPECT_EQ(ReadIniStr("Common", "Stop_No", f + ".swap"), "19");
  // The temporary cannot be made (its name is too long): an error, the file stays whole.
  std::string longIni = d / std::string(252, 'z');
  WriteText(longIni, kIni);
  EXPECT_THROW(IniWrite(longIni, "Common", "Stop_No", "21"), RunError);
  EXPECT_EQ(ReadText(longIni), kIni);
  fs::remove(longIni);
  // The configuration path is a folder: an error, and the folder keeps its content.
  std::string dir = d / "Cfg.ini";
  fs::create_directory(dir);
  WriteText(dir + "/keep", "x");
  EXPECT_THROW(IniWrite(dir, "Common", "Running", "1"), RunError);
  EXPECT_EQ(ReadText(dir + "/keep"), "x");
  EXPECT_EQ(ReadIniStr("Common", "Running", dir), "");
}

} // namespace
} // namespace zupo
