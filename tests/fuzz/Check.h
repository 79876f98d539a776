#pragma once
#include <cstdlib>

// A promise broken ends the run, so that libFuzzer keeps the input that broke it.
inline void Check(bool ok) {
  if (!ok) std::abort();
}
