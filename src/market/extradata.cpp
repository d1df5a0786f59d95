#include "market/extradata.h"

#include "core/errors.h"
#include "core/format.h"
#include "core/real6.h"
#include "core/textio.h"

namespace zupo {

void OpenExtraData(Simulation& sim) {
  sim.ExData = TextReader::Open(sim.P.ExData_File);
  ReadExtraLine(sim);
}

void ReadExtraLine(Simulation& sim) {
  if (sim.S.NExtra == 0) return;
  TextReader& in = sim.ExData;
  long double v = 0;
  // Only blank lines left after the last line of numbers: the file starts again (an empty file
  // fails in ReadReal, naming the file).
  if (!in.TryReadReal(v)) {
    in.Rewind();
    v = in.ReadReal();
  }
  try {
    sim.R.ExtraVals[1] = Round6(v);
  } catch (const FloatError&) {
    throw RunError(in.Name() + ": floating-point overflow: " + FormatGeneral(v) +
                   " is too large for a 6-byte real (about 1.7E+38 at most)");
  }
  for (int k = 2; k <= sim.S.NExtra; ++k) sim.R.ExtraVals[k] = in.ReadReal6();
  in.SkipLine();
  if (in.Eof()) in.Rewind();
}

void SeekExtraLine(Simulation& sim, long long line) {
  if (sim.S.NExtra == 0) return;
  sim.ExData = TextReader::Open(sim.P.ExData_File);
  TextReader& in = sim.ExData;
  // Count the lines of one pass: the read that ends at the start again, or that had to go back
  // to the start before reading, closes the pass.
  long long count = 0;
  for (;;) {
    size_t before = in.Pos();
    ReadExtraLine(sim);
    ++count;
    if (in.Pos() == 0) break;
    if (in.Pos() <= before) {
      --count;
      break;
    }
  }
  long long target = ((line - 1) % count + count) % count + 1;
  in.Rewind();
  for (long long k = 1; k <= target; ++k) ReadExtraLine(sim);
}

} // namespace zupo
