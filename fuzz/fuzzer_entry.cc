// One libFuzzer program: LUMVET_FUZZ_TARGET names the target it runs.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/targets.h"

#ifndef LUMVET_FUZZ_TARGET
#error "LUMVET_FUZZ_TARGET must name a fuzz target"
#endif

namespace {

const lumvet::fuzz::FuzzTarget* target() {
  static const lumvet::fuzz::FuzzTarget* found = lumvet::fuzz::find_fuzz_target(LUMVET_FUZZ_TARGET);
  if (found == nullptr) {
    std::fprintf(stderr, "no fuzz target %s\n", LUMVET_FUZZ_TARGET);
    std::abort();
  }
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return target()->run(data, size);
}
