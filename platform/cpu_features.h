// The processor's vector extensions, found once and consulted by every vector
// path (the colour conversion of JPEG spans, the luminances and the patch
// statistics), with one limit that tests and benchmarks set to run the paths a
// smaller processor would take. Every path gives the same bits whatever it uses.
#pragma once

namespace lumvet {

// A limit on the extensions used (the default is all): sse2_only leaves the SSE2
// code that every x86-64 processor runs (and the portable code elsewhere);
// no_fma allows everything but AVX2 with FMA.
enum class CpuExtensionLimit { sse2_only, no_fma, all };
void limit_cpu_extensions(CpuExtensionLimit limit);

// What vector code may use now: what the processor has, less the limit. All false
// off x86. Vector code asks once per unit of work (a span, a group of patches) and
// finishes that unit with what it was told, whatever the limit becomes meanwhile.
struct CpuExtensions {
  bool ssse3 = false;
  bool avx = false;
  bool avx2 = false;
  bool avx2_fma = false;  // AVX2 and FMA together
};
CpuExtensions usable_cpu_extensions();

}  // namespace lumvet
