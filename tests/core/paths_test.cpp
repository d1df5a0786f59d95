#include <gtest/gtest.h>

#include "core/paths.h"

using namespace zupo;

TEST(Paths, MapSeparatorsAndResolve) {
  EXPECT_EQ(MapSeparators("a/b\\\\c"), "a/b//c");
  EXPECT_EQ(ResolvePath("/home/zupo", "run\\Data.txt"), "/home/zupo/run/Data.txt");
  EXPECT_EQ(ResolvePath("/home/zupo/", "..\\other\\Data.txt"), "/home/zupo/../other/Data.txt");
  EXPECT_EQ(ResolvePath("/home/zupo", "\\data\\run\\"), "/data/run/"); // absolute
  EXPECT_EQ(ResolvePath("/home/zupo", ""), "");                        // fails when opened
  EXPECT_EQ(ResolvePath("", "run\\x"), "run/x");
  EXPECT_EQ(FolderOf("Zupo.ini"), "./");
  // Names shown in messages: one separator between folder and file.
  EXPECT_EQ(FolderOf("/runs/a/Zupo.ini"), "/runs/a/");
  EXPECT_EQ(FileInFolder("run/", "Data1.txt"), "run/Data1.txt");
  EXPECT_EQ(FileInFolder("run", "Data1.txt"), "run/Data1.txt");
}
