#include "core/errors.h"

#include <cmath>

namespace zupo {

void detail::ThrowFloatError(long double x) {
  if (std::isnan(x)) throw FloatError("Invalid floating point operation");
  throw FloatError("Floating point overflow");
}

} // namespace zupo
