#pragma once
#include <array>
#include <chrono>
#include <string>

#include "core/clock.h"
#include "core/state.h"
#include "run/host.h"

namespace zupo {

enum class RunEnd { Finished, Stopped, Failed };

struct RunResult {
  RunEnd End = RunEnd::Finished;
  std::string Message;  // the error of a failed generation, or why a stopped run stopped
  int32_t FirstGen = 0; // the generation the run started from (0: fresh start)
  int32_t LastGen = 0;  // RunGen at the end
  long double LastPrice = 0;
  // Wall time the run's thread spent waiting for its writer thread and for the companion.
  double WaitSeconds = 0;
};

// Where the time of the loop generations goes, summed over the run.
enum class Phase { Forecasts, Statistics, Checkpoint, OtherFiles, Learning };
struct PhaseTimes {
  static constexpr int Count = 5;
  std::array<double, Count> Seconds{};    // wall time, by Phase
  std::array<double, Count> CpuSeconds{}; // CPU time of the run's thread, by Phase
  int32_t Generations = 0;                // loop generations measured
  int32_t LearningGenerations = 0;
};

// The whole run: start-up, fresh start or resume, the generation loop and its end. Errors of
// the start-up (a bad configuration, a missing input file) are thrown as RunError; an error
// inside a loop generation ends the run through the error path and is reported in the result.
// The run holds the folder of iniFile for its whole life; a second run on it is refused.
// When times is given, the time of each phase of the loop generations is added to it.
RunResult RunSimulation(Simulation& sim, Host& host, Clock& clock, const std::string& iniFile,
                        const std::string& appDir, PhaseTimes* times = nullptr);

// Orders positions Lo..Hi of the CurBase half of OrderIdx by decreasing GapProfit.
void OrderTraders(Simulation& sim, int Lo, int Hi);
void SwapOrder(Simulation& sim, int a, int b);

} // namespace zupo
