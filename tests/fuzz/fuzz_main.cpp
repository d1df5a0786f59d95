// A libFuzzer entry point; ZUPO_FUZZ_HARNESS names the harness it drives.
#include "harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zupo::fuzz::ZUPO_FUZZ_HARNESS(data, size);
  return 0;
}
