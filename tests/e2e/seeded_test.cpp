// Seeded runs of the bundled example through zupo-cli: every byte of every file of the run
// folder is compared, by SHA-256, with the list kept in tests/e2e/seeded. Any change of what a
// run writes (a digit, a line end, a file more or less) fails here. ZUPO_UPDATE_EXPECTED=1
// rewrites the lists after an intended change of the formats.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/ini.h"
#include "testutil.h"

namespace zupo {
namespace {

namespace fs = std::filesystem;

struct SeededCase {
  const char* Name; // the list file under tests/e2e/seeded
  std::map<std::string, std::string> Traders;
  bool NeedsCompanion;
};

// "sha256  ./relative/path" lines of every file under dir, sorted by path. The run's lock and the
// companion's lock and log name their processes and times; they are not results of the run.
std::string HashList(const std::string& dir) {
  std::string cmd = "cd '" + dir +
                    "' && find . -type f ! -path ./zupo.lock ! -path ./run/ZupoAp.lock "
                    "! -path ./run/ZupoAp.log | "
                    "LC_ALL=C sort | xargs -d '\\n' sha256sum";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return "";
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

// The lines of a over b that differ, for a readable failure.
std::string Differences(const std::string& got, const std::string& want) {
  std::map<std::string, std::string> g, w;
  auto split = [](const std::string& text, std::map<std::string, std::string>& by) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
      if (line.size() > 66) by[line.substr(66)] = line.substr(0, 64);
  };
  split(got, g);
  split(want, w);
  std::string out;
  int shown = 0;
  for (const auto& [f, h] : w) {
    auto it = g.find(f);
    if ((it == g.end() || it->second != h) && shown++ < 20)
      out += (it == g.end() ? "missing " : "changed ") + f + "\n";
  }
  for (const auto& [f, h] : g)
    if (!w.count(f) && shown++ < 20) out += "extra   " + f + "\n";
  return out;
}

class SeededRun : public testing::TestWithParam<SeededCase> {};

TEST_P(SeededRun, EveryFileKeepsItsBytes) {
  const SeededCase& c = GetParam();
  std::string companion = fs::path(ZUPO_CLI).parent_path() / "ZupoAp";
  if (c.NeedsCompanion && !fs::exists(companion))
    GTEST_SKIP() << "the companion ZupoAp is not built";
  test::TempDir d;
  fs::copy(ZUPO_SOURCE_DIR "/examples/default", d.Path(), fs::copy_options::recursive);
  IniWrite(d / "Zupo.ini", "Traders", "Gen_No", "300");
  for (const auto& [k, v] : c.Traders) IniWrite(d / "Zupo.ini", "Traders", k, v);

  std::string cmd = std::string(ZUPO_CLI) + " --seed 300 --quiet '" + d.Path() + "' >/dev/null";
  int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;

  // The companion serves the run's last signal file after the run has ended; it holds its lock
  // until it is done.
  std::string lock = d / "run/ZupoAp.lock";
  if (c.NeedsCompanion && fs::exists(lock)) {
    int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ::flock(fd, LOCK_EX);
    ::close(fd);
  }
  std::string got = HashList(d.Path());
  std::string kept = std::string(ZUPO_SOURCE_DIR "/tests/e2e/seeded/") + c.Name + ".sha256";
  if (std::getenv("ZUPO_UPDATE_EXPECTED")) test::WriteText(kept, got);
  std::string want = test::ReadText(kept);
  EXPECT_GT(want.size(), 1000u * 70) << "the kept list is too short to hold every model file";
  EXPECT_TRUE(got == want) << Differences(got, want);
}

// The example as it is, and with the library: LibraryProb 30, G_Gap 5 and the companion ZupoAp.
INSTANTIATE_TEST_SUITE_P(
    Example300, SeededRun,
    testing::Values(SeededCase{"library0", {}, false},
                    SeededCase{"library30", {{"LibraryProb", "30"}, {"G_Gap", "5"}}, true}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace zupo
