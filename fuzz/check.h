#pragma once
// What every fuzz target does with a property that does not hold: end the run where libFuzzer sees it.
#include <cstdlib>

inline void Check(bool ok) {
    if (!ok) std::abort();
}
