#include <filesystem>
#include <gtest/gtest.h>

#include "../testutil.h"
#include "core/errors.h"
#include "core/textio.h"

using namespace zupo;

// The message of the RunError that f raises ("" when it raises none).
template <class F> static std::string ErrorOf(F f) {
  try {
    f();
  } catch (const RunError& e) {
    return e.what();
  }
  return "";
}

TEST(TextReader, FreeFormatNumbersAndErrorsNamingTheFile) {
  TextReader r("Data.txt", "  1.5\t-3 +5\r\n.5\n1E-3 12e2\r\n\r\n  7  \t\r\n");
  for (long double e : {1.5L, -3.0L, 5.0L, 0.5L, 1e-3L, 1200.0L}) EXPECT_EQ(r.ReadReal(), e);
  EXPECT_EQ(r.ReadInt(), 7);
  EXPECT_NE(ErrorOf([&] { r.ReadReal(); }).find("Data.txt"), std::string::npos);
  for (const char* junk : {"1.2.3", "nan", "0x10", "1e", "+-5", "1,5", "5x", "."}) {
    std::string msg = ErrorOf([&] { TextReader("Dstar.txt", std::string(" ") + junk).ReadReal(); });
    EXPECT_TRUE(msg.find("Dstar.txt") != msg.npos && msg.find(junk) != msg.npos) << msg;
  }
  for (const char* junk : {"1.5", "99999999999999999999"})
    EXPECT_NE(ErrorOf([&] { TextReader("Backup1.txt", junk).ReadInt(); }).find("Backup1.txt"),
              std::string::npos);
}

TEST(TextReader, LinesCharactersAndFields) {
  TextReader r("f", "1 2 3\r\n4 5\n6 junk\r7\r\n\n   123.45678   9.87654\r\nnext");
  for (int e : {1, 4, 6}) { // lines ended by CR LF, LF and a lone CR
    EXPECT_EQ(r.ReadReal(), e);
    r.SkipLine();
  }
  EXPECT_EQ(r.ReadLine(), "7");
  EXPECT_EQ(r.ReadLine(), "");
  EXPECT_EQ(r.ReadField(12), "   123.45678");
  EXPECT_EQ(r.ReadField(10), "   9.87654");
  EXPECT_EQ(r.ReadField(5), ""); // stops at the line end without consuming it
  r.SkipLine();
  EXPECT_EQ(r.ReadField(3), "nex");
  EXPECT_EQ(r.ReadChar(), 't');
  EXPECT_TRUE(r.Eof());
  EXPECT_EQ(r.ReadChar(), '\x1a');
}

TEST(TextFiles, WriteInPlaceAtomicAndAppend) {
  test::TempDir d;
  std::string f = d / "T0001.dat";
  WriteFileInPlace(f, "a much longer first content\r\n");
  WriteFileInPlace(f, "short");
  EXPECT_EQ(ReadWholeFile(f), "short"); // cut to the new length
  WriteFileAtomic(f, "new");
  EXPECT_EQ(ReadWholeFile(f), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.Path()), {}), 1); // no temporary
  // The temporary cannot be created (its name is too long): an error, the old file untouched.
  std::string longName = d / std::string(252, 'D');
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
  EXPECT_NE(ErrorOf([&] { a.Write("x"); }).find(f), std::string::npos);
}
