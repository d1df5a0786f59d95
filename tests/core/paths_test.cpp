#include <gtest/gtest.h>

#include "../testutil.h"
#include "core/errors.h"
#include "core/paths.h"

namespace zupo {
namespace {

using test::TempDir;

TEST(Paths, MapSeparatorsAndResolve) {
  EXPECT_EQ(MapSeparators("run\\T0001.dat"), "run/T0001.dat");
  EXPECT_EQ(MapSeparators("a/b\\\\c"), "a/b//c");
  EXPECT_EQ(ResolvePath("/home/zupo", "run\\Data.txt"), "/home/zupo/run/Data.txt");
  EXPECT_EQ(ResolvePath("/home/zupo/", "run\\Data.txt"), "/home/zupo/run/Data.txt");
  EXPECT_EQ(ResolvePath("/home/zupo/", "..\\other\\Data.txt"), "/home/zupo/../other/Data.txt");
  EXPECT_EQ(ResolvePath("/home/zupo", "/data/run"), "/data/run");
  EXPECT_EQ(ResolvePath("/home/zupo", "\\data\\run\\"), "/data/run/");
  EXPECT_EQ(ResolvePath("/home/zupo", ""), ""); // an empty name fails when opened
  EXPECT_EQ(ResolvePath("", "run\\x"), "run/x");
  EXPECT_EQ(FolderOf("/home/zupo/Zupo.ini"), "/home/zupo/");
  EXPECT_EQ(FolderOf("Zupo.ini"), "./");
}

TEST(Paths, EnsureDirCreatesFoldersOrNamesTheOneThatFailed) {
  TempDir d;
  std::string run0 = d / "run0";
  EXPECT_FALSE(DirExists(run0));
  EnsureDir(run0);
  EXPECT_TRUE(DirExists(run0));
  EXPECT_FALSE(FileExists(run0));
  EnsureDir(run0);              // already there: nothing to do
  EnsureDir(d / "fresh/lib/0"); // missing parents are made too
  EXPECT_TRUE(DirExists(d / "fresh/lib/0"));
  test::WriteText(d / "run1", "a file in the way");
  EXPECT_TRUE(FileExists(d / "run1"));
  for (const std::string& bad : {d / "run1", d / "run1/sub"}) {
    try {
      EnsureDir(bad);
      ADD_FAILURE() << bad;
    } catch (const RunError& e) {
      EXPECT_NE(std::string(e.what()).find(d / "run1: cannot create"), std::string::npos)
          << e.what();
    }
  }
  EXPECT_TRUE(FileExists(d / "run1"));
}

} // namespace
} // namespace zupo
