#pragma once
#include <cmath>
#include <stdexcept>
#include <string>

namespace zupo {

// Any error of a run: a file that cannot be opened, read or written, a bad configuration value,
// an arithmetic fault. The message names the file or key and what failed.
class RunError : public std::runtime_error {
public:
  explicit RunError(const std::string& msg) : std::runtime_error(msg) {}
};

// A floating-point fault (overflow, division by zero, invalid operation). The two model
// evaluators catch it and abandon the evaluation; everywhere else it is an ordinary run error.
class FloatError : public RunError {
public:
  explicit FloatError(const std::string& msg) : RunError(msg) {}
};

namespace detail {
[[noreturn]] void ThrowFloatError(long double x);
}

// Throws FloatError("Floating point overflow") when x is infinite ("Invalid floating point
// operation" when it is not a number); returns x. Inline: every step of a model passes here.
inline long double Checked(long double x) {
  if (!std::isfinite(x)) [[unlikely]]
    detail::ThrowFloatError(x);
  return x;
}

} // namespace zupo
