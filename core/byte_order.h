// Little-endian fields of WAV headers and stored samples, built from shifts
// so that they mean the same on any processor.
#pragma once

#include <cstdint>

namespace sondrel {

// Unsigned 16-bit field (0..65535).
constexpr std::int64_t ReadLe16(const std::uint8_t* bytes) {
  return static_cast<std::int64_t>(bytes[0] | (bytes[1] << 8));
}

// 32-bit field read as signed and sign-extended: a declared size with its
// top bit set comes out negative here.
constexpr std::int64_t ReadLe32(const std::uint8_t* bytes) {
  const std::uint32_t u = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
                          (static_cast<std::uint32_t>(bytes[2]) << 16) |
                          (static_cast<std::uint32_t>(bytes[3]) << 24);
  return static_cast<std::int32_t>(u);
}

constexpr std::uint64_t ReadLe64(const std::uint8_t* bytes) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

constexpr void WriteLe64(std::uint64_t value, std::uint8_t* dest) {
  for (int i = 0; i < 8; ++i) dest[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

constexpr void WriteLe16(std::uint16_t value, std::uint8_t* dest) {
  dest[0] = static_cast<std::uint8_t>(value & 0xFF);
  dest[1] = static_cast<std::uint8_t>(value >> 8);
}

// A stored 24-bit sample, sign-extended.
constexpr std::int32_t ReadSample24(const std::uint8_t* bytes) {
  const std::uint32_t raw = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                            static_cast<std::uint32_t>(bytes[2]) << 16;
  return static_cast<std::int32_t>(raw << 8) >> 8;
}

// The low 3 bytes; a negative sample passed as unsigned gives its 24-bit
// two's complement.
constexpr void WriteLe24(std::uint64_t value, std::uint8_t* dest) {
  dest[0] = static_cast<std::uint8_t>(value & 0xFF);
  dest[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
  dest[2] = static_cast<std::uint8_t>((value >> 16) & 0xFF);
}

// The low 4 bytes: header fields hold their value modulo 2^32.
constexpr void WriteLe32(std::uint64_t value, std::uint8_t* dest) {
  WriteLe24(value, dest);
  dest[3] = static_cast<std::uint8_t>((value >> 24) & 0xFF);
}

}  // namespace sondrel
