#pragma once
#include <string>

namespace zupo {

// The checkpoint and the snapshot files format about ten thousand numbers per generation, and
// printf of an 80-bit real costs a quarter to half a microsecond. These give exactly the text of
// AppendFixed and AppendSci23 (the exact binary value rounded half to even), computed with
// integer arithmetic for the magnitudes a run produces, and fall back to those for the rest.

// AppendFixed(out, v, w, d) for d <= 9.
void AppendFixedFast(std::string& out, long double v, int w, int d);
// AppendSci23(out, v).
void AppendSci23Fast(std::string& out, long double v);

} // namespace zupo
