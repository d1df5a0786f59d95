#include <gtest/gtest.h>

#include "../testutil.h"
#include "core/errors.h"
#include "core/textio.h"

using namespace zupo;

// Whether f raises a RunError whose message holds both texts.
template <class F> static bool FailsNaming(F f, std::string a, std::string b = "") try {
  f();
  return false;
} catch (const RunError& e) {
  std::string m = e.what();
  return m.find(a) != m.npos && m.find(b) != m.npos;
}

TEST(TextReader, FreeFormatNumbersAndErrorsNamingTheFile) {
  TextReader r("Data.txt", "  1.5\t-3 +5\r\n.5\n1E-3 12e2\r\n\r\n  7  \t\r\n");
  for (long double e : {1.5L, -3.0L, 5.0L, 0.5L, 1e-3L, 1200.0L}) EXPECT_EQ(r.ReadReal(), e);
  EXPECT_EQ(r.ReadInt(), 7);
  EXPECT_TRUE(FailsNaming([&] { r.ReadReal(); }, "Data.txt")); // past the end
  for (std::string junk : {"1.2.3", "nan", "0x10", "1e", "+-5", "1,5", "5x", "."})
    EXPECT_TRUE(FailsNaming([&] { TextReader("Dstar.txt", junk).ReadReal(); }, "Dstar.txt", junk));
  for (std::string junk : {"1.5", "99999999999999999999"})
    EXPECT_TRUE(FailsNaming([&] { TextReader("Dstar.txt", junk).ReadInt(); }, "Dstar.txt", junk));
}

TEST(TextReader, LinesCharactersAndFields) {
  TextReader r("f", "1 2 3\r\n4 5\n6 junk\r7\r\n   123.45678\r\nnext");
  for (int e : {1, 4, 6}) { // lines ended by CR LF, LF and a lone CR
    EXPECT_EQ(r.ReadReal(), e);
    r.SkipLine();
  }
  EXPECT_EQ(r.ReadLine(), "7");
  EXPECT_EQ(r.ReadLine(), "   123.45678");
  EXPECT_EQ(r.ReadChar(), 'n');
  EXPECT_EQ(r.ReadLine(), "ext");
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
  EXPECT_TRUE(FailsNaming([&] { a.Write("x"); }, f));
}
