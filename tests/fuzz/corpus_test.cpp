// Each kept input once crashed the program or seeds a format: read or refused, never a crash.
#include <filesystem>
#include <gtest/gtest.h>

#include "core/textio.h"
#include "harnesses.h"

namespace fs = std::filesystem;

TEST(FuzzCorpus, EveryKeptInputIsReadOrRefusedWithoutACrash) {
  int replayed = 0;
  for (const auto& folder : fs::directory_iterator(ZUPO_SOURCE_DIR "/tests/fuzz/corpus")) {
    zupo::fuzz::Harness h = zupo::fuzz::ByName(folder.path().filename().string());
    ASSERT_NE(h, nullptr) << folder.path();
    for (const auto& f : fs::directory_iterator(folder.path())) {
      const std::string text = zupo::ReadWholeFile(f.path().string());
      SCOPED_TRACE(f.path().string());
      h(reinterpret_cast<const uint8_t*>(text.data()), text.size());
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 5);
}
