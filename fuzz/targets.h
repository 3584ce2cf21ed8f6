// The fuzz targets' bodies, shared by the libFuzzer programs (fuzzer_entry.cc)
// and by the regression suite, which runs every input that ever failed. A body
// takes any bytes; a broken promise ends the process through fuzz_check, so
// that libFuzzer keeps the input and the regression test fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace lumvet::fuzz {

struct FuzzTarget {
  std::string_view name;  // also the folder of its corpus and regression inputs
  int (*run)(const std::uint8_t* data, std::size_t size);
};

// Every target, in a fixed order.
std::span<const FuzzTarget> fuzz_targets();

// The target called `name`, or null.
const FuzzTarget* find_fuzz_target(std::string_view name);

// Prints "fuzz check failed: <what>" to standard error and aborts when `ok` is false.
void fuzz_check(bool ok, const char* what);

}  // namespace lumvet::fuzz
