#pragma once
// Fuzz harnesses: each feeds one input to a reader of the program and must return without
// crashing, whatever the input. Errors the readers report (RunError) are the expected outcome
// of a bad input. Built as libFuzzer targets by `make fuzz`; the inputs kept under
// tests/fuzz/corpus/<name>/ are replayed by the ordinary tests.
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
