// Little-endian encoding of fixed-size fields for the binary files lumvet writes
// (model and network files), whatever the host's byte order. The byte loops
// compile to single loads and stores on little-endian hosts.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

namespace lumvet {

// Appends `value` as 4 bytes, least significant first.
inline void put_fixed32(std::vector<std::uint8_t>& dst, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) dst.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// Appends `value` as 8 bytes, least significant first.
inline void put_fixed64(std::vector<std::uint8_t>& dst, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) dst.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// Appends the 8 bytes of the double's IEEE-754 bit pattern, as put_fixed64 does.
inline void put_double(std::vector<std::uint8_t>& dst, double value) {
  put_fixed64(dst, std::bit_cast<std::uint64_t>(value));
}

// The inverses, reading from p.
// REQUIRES: p points at 4 (decode_fixed32) or 8 readable bytes.
inline std::uint32_t decode_fixed32(const std::uint8_t* p) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

inline std::uint64_t decode_fixed64(const std::uint8_t* p) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

// Every bit pattern comes back as it was stored, NaN payloads included.
inline double decode_double(const std::uint8_t* p) {
  return std::bit_cast<double>(decode_fixed64(p));
}

}  // namespace lumvet
