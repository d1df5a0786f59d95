#include "core/errors.h"

#include <cmath>

namespace zupo {

long double Checked(long double x) {
  if (std::isnan(x)) throw FloatError("Invalid floating point operation");
  if (std::isinf(x)) throw FloatError("Floating point overflow");
  return x;
}

} // namespace zupo
