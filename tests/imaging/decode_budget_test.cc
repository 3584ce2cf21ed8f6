#include "imaging/decode_budget.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace lumvet {
namespace {

// Threads that each open a decode scope, reserve `bytes` and hold it a while.
void decode_in_threads(int threads, std::uint64_t bytes) {
  std::vector<std::thread> running;
  for (int i = 0; i < threads; ++i) {
    running.emplace_back([bytes] {
      const DecodeMemoryScope scope;
      reserve_decode_memory(bytes);
      reserve_decode_memory(bytes);  // a second call within the scope holds nothing more
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
  }
  for (std::thread& t : running) t.join();
}

// Reservations never add up beyond the budget; an image larger than the whole
// budget runs alone; without a scope nothing is reserved; everything is given back.
TEST(DecodeBudget, ReservationsShareOneBudget) {
  const std::uint64_t saved = decode_memory_budget();
  set_decode_memory_budget(100);
  reset_decode_memory_peak();
  decode_in_threads(4, 60);
  EXPECT_EQ(decode_memory_peak(), 60u);
  reset_decode_memory_peak();
  decode_in_threads(6, 30);
  EXPECT_LE(decode_memory_peak(), 90u);
  reset_decode_memory_peak();
  decode_in_threads(3, 150);
  EXPECT_EQ(decode_memory_peak(), 150u);
  reset_decode_memory_peak();
  reserve_decode_memory(1000);  // no scope
  EXPECT_EQ(decode_memory_peak(), 0u);
  set_decode_memory_budget(0);  // no limit: they all run at once
  decode_in_threads(3, 150);
  EXPECT_LE(decode_memory_peak(), 450u);
  set_decode_memory_budget(saved);
}

}  // namespace
}  // namespace lumvet
