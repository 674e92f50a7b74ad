// Little-endian numbers in byte buffers: the one reader and writer that every
// file format uses. Bytes may be uint8_t, unsigned char, char or std::byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace base {

template <typename B>
constexpr std::uint32_t byte_at(const B* p, int i) {
  return static_cast<std::uint8_t>(p[i]);
}

// The unsigned 16- and 32-bit numbers stored low byte first at p.
template <typename B>
constexpr std::uint16_t le16(const B* p) {
  return static_cast<std::uint16_t>(byte_at(p, 0) | byte_at(p, 1) << 8);
}
template <typename B>
constexpr std::uint32_t le32(const B* p) {
  return byte_at(p, 0) | byte_at(p, 1) << 8 | byte_at(p, 2) << 16 | byte_at(p, 3) << 24;
}
// The same bits read as two's-complement numbers.
template <typename B>
constexpr std::int16_t le16_signed(const B* p) {
  return static_cast<std::int16_t>(le16(p));
}
template <typename B>
constexpr std::int32_t le32_signed(const B* p) {
  return static_cast<std::int32_t>(le32(p));
}

// v stored low byte first at p.
template <typename B>
constexpr void put_le16(B* p, std::uint16_t v) {
  for (int i = 0; i < 2; ++i) p[i] = static_cast<B>((v >> (8 * i)) & 0xFF);
}
template <typename B>
constexpr void put_le32(B* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<B>((v >> (8 * i)) & 0xFF);
}
// v appended low byte first.
template <typename B>
void append_le16(std::vector<B>& out, std::uint16_t v) {
  for (int i = 0; i < 2; ++i) out.push_back(static_cast<B>((v >> (8 * i)) & 0xFF));
}
template <typename B>
void append_le32(std::vector<B>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<B>((v >> (8 * i)) & 0xFF));
}

}  // namespace base
