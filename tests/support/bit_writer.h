// Builds bitstreams bit by bit, most significant bit first, for tests that hand-code MPEG data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plumo::test {

class BitWriter {
 public:
  // Appends the low `bits` bits of value.
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i, ++bits_) {
      if (bits_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() = static_cast<uint8_t>(bytes_.back() | (0x80 >> (bits_ % 8)));
    }
  }
  void Append(const BitWriter& other) {
    for (size_t i = 0; i < other.bits_; ++i) Put((other.bytes_[i / 8] >> (7 - i % 8)) & 1, 1);
  }
  size_t bits() const { return bits_; }
  // The bits packed into bytes, followed by `padding` zero bytes.
  std::vector<uint8_t> Bytes(size_t padding = 8) const { return Sized(bytes_.size() + padding); }
  // The bits packed into bytes, zero-filled (or cut) to `size` bytes.
  std::vector<uint8_t> Sized(size_t size) const {
    std::vector<uint8_t> out = bytes_;
    out.resize(size, 0);
    return out;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t bits_ = 0;
};

}  // namespace plumo::test
