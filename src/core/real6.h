#pragma once

namespace zupo {

// The 6-byte real: sign, 39-bit mantissa (40 significant bits with the hidden one), 8-bit
// exponent. Values live in a double that has been rounded here; every 6-byte field of the
// system goes through Round6.
// Written in binary: a 17-digit decimal literal is not exact in 64 bits and would move the
// ends of the range.
constexpr long double Real6Max = 0x1.fffffffffep126L; // 2^127 * (1 - 2^-40)
constexpr long double Real6Min = 0x1p-128L;           // 2^-128

// Rounds x to 40 significant bits (to nearest, ties to even). Magnitudes below Real6Min store
// as 0; magnitudes above the range raise FloatError("Floating point overflow").
double Round6(long double x);

} // namespace zupo
