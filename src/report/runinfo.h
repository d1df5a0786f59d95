#pragma once
// What the report needs to know about a run besides its statistics table: the parameters in
// Zupo.ini, where the results are, and the dividend process.
#include <string>
#include <utility>
#include <vector>

namespace zupo {

struct IniSection {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Keys; // in file order
};

struct RunInfo {
  std::string IniPath;   // RUN_DIR/Zupo.ini
  std::string ResultDir; // Tree_Path1 resolved against RUN_DIR, with a trailing '/'
  std::vector<IniSection> Sections;
  double Irate = 0, Lambda = 0, H0 = 0;
  int G_Gap = 0, Gen_No = 0;
  bool Running = false; // Running=1: the run is going, or ended without closing
  // Sample mean and variance (divisor n - 1) of the whole dividend series Dstar.txt; NaN and a
  // note when it cannot be read.
  double DividendMean = 0, DividendVar = 0;
  size_t DividendCount = 0;
  std::string DividendNote;
};

// Every "[Section]" and "Key=Value" line of an initialisation file, in order.
std::vector<IniSection> ReadIniSections(const std::string& path);

// RunError naming the file and key when Zupo.ini is missing or a number in it is malformed.
RunInfo ReadRunInfo(const std::string& runDir);

// The price at which homogeneous traders with rational expectations hold the supply.
double EquilibriumPrice(double dividendMean, double dividendVar, double lambda, double h0,
                        double irate);

} // namespace zupo
