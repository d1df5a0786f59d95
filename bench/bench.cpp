// Runs the bundled example for 2,000 generations with a fixed seed and prints generations per
// second, how the cost of a generation changes over the run, the peak memory, where the time of
// a generation goes, and the time of the same file traffic without any computing (the floor
// that this disk sets).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "core/ini.h"
#include "core/textio.h"
#include "run/driver.h"

namespace fs = std::filesystem;

// Every allocation through operator new (strings, vectors, ...) is counted, on both threads.
static std::atomic<long> g_allocations{0};
void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
using Clock = std::chrono::steady_clock;

namespace {

class BenchHost : public zupo::Host {
public:
  std::vector<Clock::time_point> Marks; // one per generation, at its price
  std::vector<long> Allocations;        // operator new calls so far, at each price
  void Output_msg(int32_t, const std::string&) override {}
  void ShowGraph(int32_t, long double) override {
    Marks.push_back(Clock::now());
    Allocations.push_back(g_allocations.load(std::memory_order_relaxed));
  }
  void ReplaceFirstLogLine(const std::string&) override {}
  void ProcessMessages() override {}
  void Warn(const std::string& m) override { std::fprintf(stderr, "warning: %s\n", m.c_str()); }
  double FreeDiskMB() override { return 1e6; }
  bool ExitPressed() override { return false; }
};

double MeanGap(const std::vector<Clock::time_point>& m, size_t from, size_t to) {
  return std::chrono::duration<double>(m[to] - m[from]).count() / static_cast<double>(to - from);
}

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  return sec(ru.ru_utime) + sec(ru.ru_stime);
}

std::string Slurp(const fs::path& p) {
  return fs::exists(p) ? zupo::ReadWholeFile(p.string()) : std::string();
}

// The last line (with its line end) of a text.
std::string LastLine(const std::string& text) {
  if (text.size() < 2) return text;
  size_t at = text.rfind('\n', text.size() - 2);
  return at == std::string::npos ? text : text.substr(at + 1);
}

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error("floor: " + what + " failed");
}

// The file traffic of the run replayed with the run's own final texts and no computing: per
// generation the ini key, the checkpoint rotation, the data and window files, the snapshot
// sets, the changed model files (the run's count, spread over its learning generations), the
// statistics row and a new report file. Returns the mean seconds per generation.
double FileFloor(const fs::path& run, int gens, int gap, long modelWrites) {
  fs::path dir = run / "floor";
  fs::create_directories(dir);
  for (int d = 0; d <= 9; ++d) fs::create_directories(dir / std::to_string(d));
  const fs::path out = run / "run";
  const std::string ini = (dir / "Zupo.ini").string(), iniText = Slurp(run / "Zupo.ini");
  zupo::WriteFileInPlace(ini, iniText);
  const std::string backup = Slurp(out / "Backup1.txt"), report = Slurp(out / "0/Best0002.dat");
  const std::string data = Slurp(run / "Data.txt"), dimA = Slurp(run / "DimA.txt");
  const std::string model = Slurp(out / "0/T0001.dat"), snap = Slurp(out / "History1.w");
  const std::string row = LastLine(Slurp(out / "Data1.txt"));
  const std::string b1 = (dir / "Backup1.txt").string(), b11 = (dir / "Backup11.txt").string();
  const std::string tmp = b1 + ".tmp";
  zupo::AppendFile data1;
  data1.Create((dir / "Data1.txt").string());
  // The run keeps the data, window and model files open and rewrites them in place.
  zupo::RewrittenFile dataOut, windowOut[3];
  auto modelOut = std::make_unique<zupo::RewrittenFile[]>(1001);
  const int learning = gap > 0 ? gens / gap : 0;
  long written = 0;
  auto t0 = Clock::now();
  for (int g = 1; g <= gens; ++g) {
    zupo::IniWrite(ini, "Common", "Stop_No", std::to_string(g));
    bool exists = fs::exists(b1);
    if (exists && fs::exists(b11)) Check(::rename(b11.c_str(), tmp.c_str()) == 0, "rename");
    zupo::WriteFileInPlace(tmp, backup);
    if (exists) Check(::link(b1.c_str(), b11.c_str()) == 0, "link");
    Check(::rename(tmp.c_str(), b1.c_str()) == 0, "rename");
    dataOut.Write((dir / "Data.txt").string(), data);
    int wk = 0;
    for (const char* w : {"DimA.txt", "DimB.txt", "DimC.txt"})
      windowOut[wk++].Write((dir / w).string(), dimA);
    int m = gap > 0 ? g % gap : 1;
    if (m == 1 || m == 2)
      for (const char* suffix : {"h", "w", "m", "s", "v", "f"})
        zupo::WriteFileInPlace((dir / (std::string("History1.") + suffix)).string(), snap);
    if (m == 1 && learning > 0) {
      long share = modelWrites / learning + (g / gap < modelWrites % learning ? 1 : 0);
      for (long k = 0; k < share; ++k, ++written) {
        int n = static_cast<int>(written % 1000) + 1;
        char name[32];
        std::snprintf(name, sizeof name, "%d/T%04d.dat", std::min(n / 100, 9), n);
        modelOut[static_cast<size_t>(n)].Write((dir / name).string(), model);
      }
    }
    data1.Write(row);
    data1.Flush();
    char best[32];
    std::snprintf(best, sizeof best, "%d/Best%04d.dat", std::min((g + 1) / 100, 9), g + 1);
    zupo::WriteFileInPlace((dir / best).string(), report);
  }
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
  data1.Close();
  return s / gens;
}

} // namespace

int main(int argc, char** argv) {
  std::string example = argc > 1 ? argv[1] : "examples/default";
  long long gens = 2000;
  if (argc > 3 || example.starts_with("-") ||
      !fs::is_regular_file(fs::path(example) / "Zupo.ini") ||
      (argc > 2 && (!zupo::ParseInt(argv[2], gens) || gens < 1 || gens > 1000000))) {
    std::fprintf(stderr, "usage: zupo-bench [RUN_FOLDER [GENERATIONS]]\n"
                         "  RUN_FOLDER holds a Zupo.ini (default examples/default); GENERATIONS "
                         "is 1..1000000 (default 2000)\n");
    return 2;
  }
  fs::path dir = fs::temp_directory_path() / ("zupo-bench-" + std::to_string(::getpid()));
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::copy(example, dir, fs::copy_options::recursive, ec);
  if (ec) {
    std::fprintf(stderr, "bench: cannot copy %s to %s: %s\n", example.c_str(), dir.c_str(),
                 ec.message().c_str());
    return 1;
  }
  std::string ini = (dir / "Zupo.ini").string();
  zupo::IniWrite(ini, "Traders", "Gen_No", std::to_string(gens));

  BenchHost host;
  zupo::FixedClock clock(12345);
  auto sim = std::make_unique<zupo::Simulation>();
  zupo::PhaseTimes phases;
  double cpu0 = CpuSeconds();
  auto t0 = Clock::now();
  zupo::RunResult r = zupo::RunSimulation(*sim, host, clock, ini, dir.string() + "/", &phases);
  double total = std::chrono::duration<double>(Clock::now() - t0).count();
  double cpu = CpuSeconds() - cpu0;
  if (r.End != zupo::RunEnd::Finished) {
    std::fprintf(stderr, "bench: the run did not finish: %s (its folder %s is kept)\n",
                 r.Message.c_str(), dir.c_str());
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
  if (n > 401) {
    // Allocations of the last 200 generations, learning and other apart.
    const auto& a = host.Allocations;
    const size_t gap = static_cast<size_t>(sim->P.G_Gap > 0 ? sim->P.G_Gap : 1);
    double la = 0, oa = 0;
    int ln = 0, on = 0;
    for (size_t k = n - 200; k < n; ++k) {
      double d = static_cast<double>(a[k] - a[k - 1]);
      if ((k + 1) % gap == 1) {
        la += d;
        ++ln;
      } else {
        oa += d;
        ++on;
      }
    }
    std::printf("allocations (last 200): %.0f per learning generation, %.1f per other\n",
                ln ? la / ln : 0.0, on ? oa / on : 0.0);
  }
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("peak memory:            %.1f MiB\n", static_cast<double>(ru.ru_maxrss) / 1024.0);
  std::printf("CPU (user+sys):         %.3f ms per generation (wall %.3f ms)\n",
              cpu / r.LastGen * 1e3, total / r.LastGen * 1e3);
  const int ng = phases.Generations > 0 ? phases.Generations : 1;
  const char* names[zupo::PhaseTimes::Count] = {"forecasts and clearing", "statistics and report",
                                                "checkpoint", "other files", "learning"};
  std::printf("mean time per loop generation (%d generations, %d learning), wall and CPU:\n",
              phases.Generations, phases.LearningGenerations);
  double sum = 0, sumCpu = 0;
  for (int k = 0; k < zupo::PhaseTimes::Count; ++k) {
    double t = phases.Seconds[static_cast<size_t>(k)],
           c = phases.CpuSeconds[static_cast<size_t>(k)];
    sum += t;
    sumCpu += c;
    std::printf("  %-24s %8.3f ms %8.3f ms", names[k], t / ng * 1e3, c / ng * 1e3);
    if (k == static_cast<int>(zupo::Phase::Learning) && phases.LearningGenerations > 0)
      std::printf("  (per learning generation %.3f ms, CPU %.3f ms)",
                  t / phases.LearningGenerations * 1e3, c / phases.LearningGenerations * 1e3);
    std::printf("\n");
  }
  std::printf("  %-24s %8.3f ms %8.3f ms\n", "all phases", sum / ng * 1e3, sumCpu / ng * 1e3);
  std::printf("writer thread:          %.3f ms CPU per generation (%ld writes, the checkpoint's "
              "tail built there)\n",
              sim->Files.WriterCpuSeconds() / r.LastGen * 1e3, sim->Files.Written());
  double floorCpu0 = CpuSeconds();
  double floor = FileFloor(dir, r.LastGen, sim->P.G_Gap, sim->Models.Writes);
  double floorCpu = (CpuSeconds() - floorCpu0) / r.LastGen;
  std::printf("file traffic alone:     %.3f ms per generation, CPU %.3f ms (%ld model files "
              "written)\n",
              floor * 1e3, floorCpu * 1e3, sim->Models.Writes);
  fs::remove_all(dir);
  return 0;
}
