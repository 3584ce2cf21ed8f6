#include "imaging/decode_budget.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace lumvet {

namespace {

struct Budget {
  std::mutex mutex;
  std::condition_variable changed;
  std::uint64_t limit = DEFAULT_DECODE_MEMORY_BUDGET;
  std::uint64_t reserved = 0;
  std::uint64_t peak = 0;
  // Tickets keep the waiting decodes in the order they asked: the one holding
  // `serving` is the next to reserve.
  std::uint64_t next_ticket = 0;
  std::uint64_t serving = 0;
};

Budget& budget() {
  static Budget b;
  return b;
}

// The current thread's decode: whether a scope is open and what it holds.
struct ThreadScope {
  bool open = false;
  bool reserved = false;
  std::uint64_t bytes = 0;
};
thread_local ThreadScope current;

}  // namespace

void set_decode_memory_budget(std::uint64_t bytes) {
  Budget& b = budget();
  const std::lock_guard<std::mutex> lock(b.mutex);
  b.limit = bytes;
  b.changed.notify_all();
}

std::uint64_t decode_memory_budget() {
  Budget& b = budget();
  const std::lock_guard<std::mutex> lock(b.mutex);
  return b.limit;
}

std::uint64_t decode_memory_peak() {
  Budget& b = budget();
  const std::lock_guard<std::mutex> lock(b.mutex);
  return b.peak;
}

void reset_decode_memory_peak() {
  Budget& b = budget();
  const std::lock_guard<std::mutex> lock(b.mutex);
  b.peak = b.reserved;
}

DecodeMemoryScope::DecodeMemoryScope() {
  if (current.open) return;
  current = ThreadScope{true, false, 0};
  owner_ = true;
}

DecodeMemoryScope::~DecodeMemoryScope() {
  if (!owner_) return;
  if (current.reserved) {
    Budget& b = budget();
    const std::lock_guard<std::mutex> lock(b.mutex);
    b.reserved -= current.bytes;
    b.changed.notify_all();
  }
  current = ThreadScope{};
}

void reserve_decode_memory(std::uint64_t bytes) {
  if (!current.open || current.reserved) return;
  Budget& b = budget();
  std::unique_lock<std::mutex> lock(b.mutex);
  const std::uint64_t ticket = b.next_ticket++;
  // Its turn, and room: within the budget, or nothing else held when the image
  // alone needs more than the whole budget.
  b.changed.wait(lock, [&] {
    return ticket == b.serving &&
           (b.limit == 0 || b.reserved == 0 || b.reserved + bytes <= b.limit);
  });
  ++b.serving;
  b.reserved += bytes;
  b.peak = std::max(b.peak, b.reserved);
  b.changed.notify_all();
  current.reserved = true;
  current.bytes = bytes;
}

}  // namespace lumvet
