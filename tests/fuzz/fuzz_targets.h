#pragma once

// The entry points that the fuzzers drive and the corpus regression test replays.
// Each takes arbitrary bytes, runs one parser of hostile input over them and checks
// what must hold of its result; a broken promise stops the process (abort), so the
// fuzzer reports it as a crash with the input that caused it.

#include <cstddef>
#include <cstdint>

int FuzzRequestPath(const uint8_t* data, size_t size);
int FuzzQueryString(const uint8_t* data, size_t size);
int FuzzRangeHeader(const uint8_t* data, size_t size);
int FuzzPlistWriter(const uint8_t* data, size_t size);
int FuzzXmlReader(const uint8_t* data, size_t size);
