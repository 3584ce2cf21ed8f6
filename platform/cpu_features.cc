#include "platform/cpu_features.h"

#include <atomic>

namespace lumvet {

namespace {

std::atomic<CpuExtensionLimit> extension_limit{CpuExtensionLimit::all};

CpuExtensions processor_extensions() {
  CpuExtensions found;
#if defined(__x86_64__) || defined(__i386__)
  found.ssse3 = __builtin_cpu_supports("ssse3");
  found.avx = __builtin_cpu_supports("avx");
  found.avx2 = __builtin_cpu_supports("avx2");
  found.avx2_fma = found.avx2 && __builtin_cpu_supports("fma");
#endif
  return found;
}

}  // namespace

void limit_cpu_extensions(CpuExtensionLimit limit) { extension_limit.store(limit); }

CpuExtensions usable_cpu_extensions() {
  static const CpuExtensions found = processor_extensions();
  switch (extension_limit.load(std::memory_order_relaxed)) {
    case CpuExtensionLimit::sse2_only:
      return {};
    case CpuExtensionLimit::no_fma: {
      CpuExtensions usable = found;
      usable.avx2_fma = false;
      return usable;
    }
    case CpuExtensionLimit::all:
      break;
  }
  return found;
}

}  // namespace lumvet
