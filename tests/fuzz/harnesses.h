#pragma once
// Fuzz harnesses: each feeds one input to readers of the program, which may refuse it (RunError)
// but not crash. Built as libFuzzer targets by `make fuzz`; tests/fuzz/corpus/<name>/ is replayed.
#include <cstddef>
#include <cstdint>
#include <string>

namespace zupo::fuzz {

using Harness = void (*)(const uint8_t* data, size_t size);

void Ini(const uint8_t* data, size_t size);        // Zupo.ini reading, writing and GetEnv
void ModelFile(const uint8_t* data, size_t size);  // model files into lists and trees
void Numbers(const uint8_t* data, size_t size);    // the number and text reader
void Checkpoint(const uint8_t* data, size_t size); // the checkpoint restore
void RunFiles(const uint8_t* data, size_t size);   // data, window, dividend, extra, Data1/2

// The harness of a corpus folder name ("ini", "modelfile", ...), or nullptr.
Harness ByName(const std::string& name);

} // namespace zupo::fuzz
