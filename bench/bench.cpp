// Runs the bundled example for 2,000 generations with a fixed seed and prints generations per
// second, how the cost of a generation changes over the run, and the peak memory.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "core/ini.h"
#include "run/driver.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

class BenchHost : public zupo::Host {
public:
  std::vector<Clock::time_point> Marks; // one per generation, at its price
  void Output_msg(int32_t, const std::string&) override {}
  void ShowGraph(int32_t, long double) override { Marks.push_back(Clock::now()); }
  void ReplaceFirstLogLine(const std::string&) override {}
  void ProcessMessages() override {}
  void Warn(const std::string& m) override { std::fprintf(stderr, "warning: %s\n", m.c_str()); }
  double FreeDiskMB() override { return 1e6; }
  bool ExitPressed() override { return false; }
};

double MeanGap(const std::vector<Clock::time_point>& m, size_t from, size_t to) {
  return std::chrono::duration<double>(m[to] - m[from]).count() / static_cast<double>(to - from);
}

} // namespace

int main(int argc, char** argv) {
  std::string example = argc > 1 ? argv[1] : "examples/default";
  int gens = argc > 2 ? std::stoi(argv[2]) : 2000;
  fs::path dir = fs::temp_directory_path() / ("zupo-bench-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::copy(example, dir, fs::copy_options::recursive);
  std::string ini = (dir / "Zupo.ini").string();
  zupo::IniWrite(ini, "Traders", "Gen_No", std::to_string(gens));

  BenchHost host;
  zupo::FixedClock clock(12345);
  auto sim = std::make_unique<zupo::Simulation>();
  auto t0 = Clock::now();
  zupo::RunResult r = zupo::RunSimulation(*sim, host, clock, ini, dir.string() + "/");
  double total = std::chrono::duration<double>(Clock::now() - t0).count();
  if (r.End != zupo::RunEnd::Finished) {
    std::fprintf(stderr, "bench: the run did not finish: %s\n", r.Message.c_str());
    return 1;
  }
  const auto& m = host.Marks;
  size_t n = m.size();
  double loop = std::chrono::duration<double>(m.back() - m.front()).count();
  std::printf("generations:            %d (in %.2f s, initial generation included)\n", r.LastGen,
              total);
  std::printf("generations per second: %.1f\n", static_cast<double>(n - 1) / loop);
  if (n > 401) {
    double first = MeanGap(m, 0, 200), last = MeanGap(m, n - 201, n - 1);
    std::printf("mean generation, first 200: %.3f ms, last 200: %.3f ms, ratio %.3f\n", first * 1e3,
                last * 1e3, last / first);
  }
  // Marks[k] is the price of generation k + 1; learning generations are those with
  // RunGen mod G_Gap = 1 (the example's G_Gap is 20).
  double learn = 0, other = 0;
  int nLearn = 0, nOther = 0;
  for (size_t k = 1; k < n; ++k) {
    double dt = std::chrono::duration<double>(m[k] - m[k - 1]).count();
    if ((k + 1) % static_cast<size_t>(sim->P.G_Gap > 0 ? sim->P.G_Gap : 1) == 1) {
      learn += dt;
      ++nLearn;
    } else {
      other += dt;
      ++nOther;
    }
  }
  if (nLearn > 0 && nOther > 0)
    std::printf("learning generation:    %.2f ms (mean of %d), other generations %.2f ms\n",
                learn / nLearn * 1e3, nLearn, other / nOther * 1e3);
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("peak memory:            %.1f MiB\n", static_cast<double>(ru.ru_maxrss) / 1024.0);
  fs::remove_all(dir);
  return 0;
}
