#include "report/stats.h"

#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>
#include <limits>

namespace zupo {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

long double MeanOf(std::span<const double> x) {
  long double s = 0;
  for (double v : x) s += v;
  return s / static_cast<long double>(x.size());
}

// Upper tail of the chi-squared distribution; NaN for a statistic that is not a number.
double ChiSquaredUpper(double stat, int df) {
  if (!std::isfinite(stat) || df < 1) return kNaN;
  if (stat <= 0) return 1.0;
  return boost::math::cdf(boost::math::complement(boost::math::chi_squared(df), stat));
}

// Solves the symmetric system a x = b (n x n, row-major) by Gaussian elimination with partial
// pivoting; false when the matrix is singular.
bool Solve(std::vector<long double>& a, std::vector<long double>& b, size_t n) {
  for (size_t c = 0; c < n; ++c) {
    size_t piv = c;
    for (size_t r = c + 1; r < n; ++r)
      if (std::fabs(a[r * n + c]) > std::fabs(a[piv * n + c])) piv = r;
    if (a[piv * n + c] == 0) return false;
    if (piv != c) {
      for (size_t k = 0; k < n; ++k) std::swap(a[c * n + k], a[piv * n + k]);
      std::swap(b[c], b[piv]);
    }
    for (size_t r = c + 1; r < n; ++r) {
      long double f = a[r * n + c] / a[c * n + c];
      for (size_t k = c; k < n; ++k) a[r * n + k] -= f * a[c * n + k];
      b[r] -= f * b[c];
    }
  }
  for (size_t c = n; c-- > 0;) {
    long double s = b[c];
    for (size_t k = c + 1; k < n; ++k) s -= a[c * n + k] * b[k];
    b[c] = s / a[c * n + c];
  }
  return true;
}

} // namespace

Moments ComputeMoments(std::span<const double> x) {
  Moments m{kNaN, kNaN, kNaN, kNaN};
  const size_t n = x.size();
  if (n == 0) return m;
  long double mean = MeanOf(x), m2 = 0, m3 = 0, m4 = 0;
  for (double v : x) {
    long double d = v - mean, d2 = d * d;
    m2 += d2;
    m3 += d2 * d;
    m4 += d2 * d2;
  }
  m.Mean = static_cast<double>(mean);
  if (n < 2) return m;
  m.Sd = static_cast<double>(std::sqrt(m2 / (n - 1)));
  m2 /= n;
  m3 /= n;
  m4 /= n;
  if (m2 > 0) {
    m.Skew = static_cast<double>(m3 / std::pow(m2, 1.5L));
    m.ExKurt = static_cast<double>(m4 / (m2 * m2) - 3);
  }
  return m;
}

TestResult JarqueBera(std::span<const double> x) {
  Moments m = ComputeMoments(x);
  double jb = x.size() / 6.0 * (m.Skew * m.Skew + m.ExKurt * m.ExKurt / 4);
  return {jb, ChiSquaredUpper(jb, 2)};
}

std::vector<double> Autocorrelations(std::span<const double> x, int maxLag) {
  std::vector<double> rho(std::max(maxLag, 0), kNaN);
  const size_t n = x.size();
  if (n < 2) return rho;
  long double mean = MeanOf(x), c0 = 0;
  for (double v : x) c0 += (v - mean) * (v - mean);
  if (c0 == 0) return rho;
  for (int k = 1; k <= maxLag && static_cast<size_t>(k) < n; ++k) {
    long double ck = 0;
    for (size_t t = k; t < n; ++t) ck += (x[t] - mean) * (x[t - k] - mean);
    rho[k - 1] = static_cast<double>(ck / c0);
  }
  return rho;
}

TestResult LjungBox(std::span<const double> x, int lags) {
  const double n = static_cast<double>(x.size());
  if (lags < 1 || x.size() <= static_cast<size_t>(lags)) return {kNaN, kNaN};
  std::vector<double> rho = Autocorrelations(x, lags);
  long double q = 0;
  for (int k = 1; k <= lags; ++k) q += static_cast<long double>(rho[k - 1]) * rho[k - 1] / (n - k);
  double stat = static_cast<double>(n * (n + 2) * q);
  return {stat, ChiSquaredUpper(stat, lags)};
}

TestResult ArchLm(std::span<const double> x, int lags) {
  const size_t n = x.size(), p = static_cast<size_t>(std::max(lags, 0)) + 1;
  // Fewer rows than a few times the regressors leave R^2 meaningless.
  if (lags < 1 || n < p + 2 * static_cast<size_t>(lags) + 2) return {kNaN, kNaN};
  long double mean = MeanOf(x);
  std::vector<long double> e2(n);
  for (size_t t = 0; t < n; ++t) e2[t] = (x[t] - mean) * (x[t] - mean);

  // Normal equations of e2[t] on (1, e2[t-1], ..., e2[t-lags]) for t = lags..n-1.
  std::vector<long double> xtx(p * p, 0), xty(p, 0), row(p);
  long double sy = 0, syy = 0;
  const size_t rows = n - lags;
  for (size_t t = lags; t < n; ++t) {
    row[0] = 1;
    for (size_t j = 1; j < p; ++j) row[j] = e2[t - j];
    for (size_t a = 0; a < p; ++a) {
      xty[a] += row[a] * e2[t];
      for (size_t b = 0; b < p; ++b) xtx[a * p + b] += row[a] * row[b];
    }
    sy += e2[t];
    syy += e2[t] * e2[t];
  }
  long double tss = syy - sy * sy / rows;
  std::vector<long double> beta = xty;
  if (tss <= 0 || !Solve(xtx, beta, p)) return {kNaN, kNaN};
  long double rss = 0;
  for (size_t t = lags; t < n; ++t) {
    long double fit = beta[0];
    for (size_t j = 1; j < p; ++j) fit += beta[j] * e2[t - j];
    rss += (e2[t] - fit) * (e2[t] - fit);
  }
  double r2 = static_cast<double>(std::clamp(1 - rss / tss, 0.0L, 1.0L));
  double lm = static_cast<double>(rows) * r2;
  return {lm, ChiSquaredUpper(lm, lags)};
}

double HillTailIndex(std::span<const double> x, double fraction) {
  std::vector<double> a;
  a.reserve(x.size());
  for (double v : x) a.push_back(std::fabs(v));
  size_t k = static_cast<size_t>(std::floor(fraction * static_cast<double>(a.size())));
  if (k < 1 || k >= a.size()) return kNaN;
  std::partial_sort(a.begin(), a.begin() + k + 1, a.end(), std::greater<double>());
  if (!(a[k] > 0)) return kNaN;
  long double s = 0;
  for (size_t i = 0; i < k; ++i) s += std::log(static_cast<long double>(a[i]) / a[k]);
  if (s <= 0) return kNaN;
  return static_cast<double>(k / s);
}

} // namespace zupo
