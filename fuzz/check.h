// A broken rule ends the fuzz run as a crash, so libFuzzer keeps the input.
#pragma once
#include <cstdio>
#include <cstdlib>

namespace fuzzline {
inline void require(bool ok, const char* what) {
    if (!ok) std::fprintf(stderr, "broken: %s\n", what), std::abort();
}
}  // namespace fuzzline
