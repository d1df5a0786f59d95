#pragma once
#include <cstdint>
#include <string>

namespace zupo {

// Fixed notation with d decimals, right-aligned in w characters, wider when needed ("w:d").
std::string FormatFixed(long double v, int w, int d);
// The default real notation: exactly 23 characters, " 1.50000000000000E+0000".
std::string FormatSci23(long double v);
// General form with up to 15 significant digits, shortest, no trailing zeros (log lines).
std::string FormatGeneral(long double v);
// Decimal integer right-aligned in w characters (w = 0: shortest form).
std::string FormatInt(long long v, int w = 0);

// Appending variants, to build a line without temporaries.
void AppendFixed(std::string& out, long double v, int w, int d);
void AppendSci23(std::string& out, long double v);
void AppendInt(std::string& out, long long v, int w = 0);

namespace detail {
// The first `keep` (at most 22) significant digits of the integer m * 2^e (e >= 0), rounded half
// to even on all the others, and the number of digits of the integer (one more when the
// rounding carried 99..9 into 100..0).
struct LeadingDigits {
  char digits[24] = {}; // the first min(count, keep) are set
  int count = 0;
};
LeadingDigits LeadingIntegerDigits(uint64_t m, int e, int keep);
// The same by exact big-integer arithmetic, at a cost that grows with e.
LeadingDigits LeadingIntegerDigitsExact(uint64_t m, int e, int keep);

// The reference forms through printf; AppendFixed and AppendSci23 give the very same text, with
// integer arithmetic for the magnitudes a run produces (printf of an 80-bit real is slow, and
// slower the larger the number).
void AppendFixedPrintf(std::string& out, long double v, int w, int d);
void AppendSci23Printf(std::string& out, long double v);
} // namespace detail

} // namespace zupo
