#pragma once
// Stylized facts of a return series: moments, normality, autocorrelation, volatility clustering
// and the tail index. Every function takes the series as given (no value left out); a statistic
// that the series cannot define (too short, no variance) is NaN.
#include <span>
#include <vector>

namespace zupo {

struct Moments {
  double Mean = 0;
  double Sd = 0;     // sample standard deviation (divisor n - 1)
  double Skew = 0;   // m3 / m2^1.5 with population central moments
  double ExKurt = 0; // m4 / m2^2 - 3
};
Moments ComputeMoments(std::span<const double> x);

// A test statistic and its upper-tail p-value.
struct TestResult {
  double Stat = 0;
  double P = 0;
};

// n/6 (S^2 + K^2/4), chi-squared with 2 degrees of freedom under normality.
TestResult JarqueBera(std::span<const double> x);

// Sample autocorrelation at lags 1..maxLag (element k-1 is lag k); the usual estimator with the
// full-sample mean and the lag-0 sum of squares as divisor.
std::vector<double> Autocorrelations(std::span<const double> x, int maxLag);

// Q = n (n + 2) sum_k rho_k^2 / (n - k), k = 1..lags; chi-squared with `lags` degrees of freedom.
TestResult LjungBox(std::span<const double> x, int lags);

// Engle's test: the squared demeaned series regressed on a constant and its own `lags` lags;
// LM = (number of regression rows) x R^2, chi-squared with `lags` degrees of freedom.
TestResult ArchLm(std::span<const double> x, int lags);

// Hill estimator of the tail index alpha of |x| from the largest k = floor(fraction * n) values:
// 1 / alpha = (1/k) sum_{i<=k} ln(x_(i) / x_(k+1)), x_(1) >= x_(2) >= ... the order statistics.
double HillTailIndex(std::span<const double> x, double fraction);

} // namespace zupo
