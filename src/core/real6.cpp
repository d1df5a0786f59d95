#include "core/real6.h"

#include <cmath>

#include "core/errors.h"

namespace zupo {

double Round6(long double x) {
  if (std::isnan(x)) throw FloatError("Invalid floating point operation");
  long double a = std::fabs(x);
  if (std::isinf(a)) throw FloatError("Floating point overflow");
  if (a < Real6Min) return 0.0; // below the range (and both zeros) store as +0
  int e = 0;
  long double m = std::frexp(a, &e);                 // a = m * 2^e, 0.5 <= m < 1
  long double r = std::nearbyint(std::ldexp(m, 40)); // 40 significant bits, ties to even
  long double v = std::ldexp(r, e - 40);
  if (v > Real6Max) throw FloatError("Floating point overflow");
  return static_cast<double>(x < 0 ? -v : v);
}

} // namespace zupo
