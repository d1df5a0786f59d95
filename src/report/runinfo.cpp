#include "report/runinfo.h"

#include <cmath>
#include <limits>

#include "core/errors.h"
#include "core/ini.h"
#include "core/paths.h"
#include "core/textio.h"

namespace zupo {
namespace {

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

long double Number(const std::string& ini, const std::string& section, const std::string& key) {
  std::string v = ReadIniStr(section, key, ini);
  long double x = 0;
  if (!ParseReal(v, x))
    throw RunError(ini + ": [" + section + "] " + key + "=" + v + " is not a number");
  return x;
}

} // namespace

std::vector<IniSection> ReadIniSections(const std::string& path) {
  std::vector<IniSection> out;
  TextReader in = TextReader::Open(path);
  while (!in.Eof()) {
    std::string line = Trim(in.ReadLine());
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      out.push_back({line.substr(1, line.size() - 2), {}});
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (out.empty()) out.push_back({"", {}});
    out.back().Keys.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
  }
  return out;
}

// Homogeneous traders with rational expectations. Each trader demands
//   d = (E[P(t+1) + D(t+1)] - (1 + r) P(t)) / (lambda sigma^2)
// shares, sigma^2 its variance of P + D. The 500 H0 shares in the market are neither made nor
// destroyed, so with identical traders each one holds H0 in equilibrium. In a stationary
// equilibrium the price is a constant P*: then E[P(t+1) + D(t+1)] = P* + Dbar and the variance
// of P + D is the variance of the dividend alone. Setting d = H0:
//   H0 lambda Var(D) = P* + Dbar - (1 + r) P* = Dbar - r P*
//   P* = (Dbar - lambda Var(D) H0) / r.
// The example (Dbar 10, Var(D) 4, lambda 0.5, H0 1, r 0.1) gives (10 - 2) / 0.1 = 80.
double EquilibriumPrice(double dividendMean, double dividendVar, double lambda, double h0,
                        double irate) {
  if (irate == 0) return std::numeric_limits<double>::quiet_NaN();
  return (dividendMean - lambda * dividendVar * h0) / irate;
}

RunInfo ReadRunInfo(const std::string& runDir) {
  RunInfo r;
  r.IniPath = FileInFolder(runDir, "Zupo.ini");
  if (!FileExists(r.IniPath)) throw RunError(r.IniPath + ": the configuration file does not exist");
  r.Sections = ReadIniSections(r.IniPath);
  r.ResultDir = ResolvePath(runDir, ReadIniStr("Common", "Tree_Path1", r.IniPath));
  if (r.ResultDir.empty()) r.ResultDir = runDir;
  if (r.ResultDir.back() != '/') r.ResultDir += '/';
  r.Irate = static_cast<double>(Number(r.IniPath, "Stock_Market", "Irate"));
  r.H0 = static_cast<double>(Number(r.IniPath, "Stock_Market", "H0"));
  r.Lambda = static_cast<double>(Number(r.IniPath, "Traders", "Lambda"));
  r.G_Gap = static_cast<int>(Number(r.IniPath, "Traders", "G_Gap"));
  r.Gen_No = static_cast<int>(Number(r.IniPath, "Traders", "Gen_No"));
  r.Running = Trim(ReadIniStr("Common", "Running", r.IniPath)) == "1";

  const double nan = std::numeric_limits<double>::quiet_NaN();
  r.DividendMean = r.DividendVar = nan;
  std::string dstar = r.ResultDir + "Dstar.txt";
  if (!FileExists(dstar)) {
    r.DividendNote = dstar + " does not exist";
    return r;
  }
  TextReader in = TextReader::Open(dstar);
  long double sum = 0, sum2 = 0, v = 0;
  std::vector<long double> d;
  try {
    // One dividend per line, as the market reads them.
    while (in.TryReadReal(v)) {
      d.push_back(v);
      in.SkipLine();
    }
  } catch (const RunError& e) {
    r.DividendNote = e.what();
    return r;
  }
  for (long double x : d) sum += x;
  r.DividendCount = d.size();
  if (d.size() < 2) {
    r.DividendNote = dstar + " holds fewer than two dividends";
    return r;
  }
  long double mean = sum / d.size();
  for (long double x : d) sum2 += (x - mean) * (x - mean);
  r.DividendMean = static_cast<double>(mean);
  r.DividendVar = static_cast<double>(sum2 / (d.size() - 1));
  return r;
}

} // namespace zupo
