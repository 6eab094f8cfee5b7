// Most-significant-bit-first reader over a byte buffer, used by every layer decoder.
//
// The accumulator holds at most 32 not yet consumed bits and is refilled a byte at a time until it
// holds more than 24, so `ReadBits` serves reads of up to 24 bits. The reader never touches memory
// past the hard end given to `Start`: bytes beyond it read as zero. Callers detect overruns of their
// own data through `BytePosition` or `BitPosition`.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plumo {

class BitReader {
 public:
  // Starts reading at data; size is the number of bytes that may be read from there.
  void Start(const uint8_t* data, size_t size) {
    data_ = data;
    size_ = size;
    pos_ = 0;
    acc_ = 0;
    valid_ = 0;
  }

  // Consumes and returns n bits (0 <= n <= 24). Reading 0 bits returns 0.
  uint32_t ReadBits(int n) {
    if (n > valid_) Fill();
    valid_ -= n;
    const uint32_t v = acc_ >> valid_;
    acc_ &= Mask(valid_);
    return v;
  }

  // Returns the next n bits without consuming them (n <= 24).
  uint32_t PeekBits(int n) {
    if (valid_ < 11 || n > valid_) Fill();
    return acc_ >> (valid_ - n);
  }

  // Read for escape values: refills when fewer than n + 2 bits are held.
  uint32_t ReadEscapeBits(int n) {
    if (n + 2 > valid_) Fill();
    valid_ -= n;
    const uint32_t v = acc_ >> valid_;
    acc_ &= Mask(valid_);
    return v;
  }

  // Drops n bits; long skips jump over whole bytes without loading them.
  void SkipBits(int n) {
    if (n > valid_) {
      const int rest = n - valid_;
      Advance(rest / 8);
      acc_ = LoadByte();
      valid_ = 8;
      n = rest % 8;
    }
    valid_ -= n;
    acc_ &= Mask(valid_);
  }

  // Bits consumed since `Start`.
  int BitPosition() const { return static_cast<int>(pos_) * 8 - valid_; }

  // Offset from the start of the next byte the accumulator would load.
  size_t BytePosition() const { return pos_; }

 private:
  static uint32_t Mask(int bits) { return bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1u); }

  uint32_t LoadByte() {
    const uint32_t b = pos_ < size_ ? data_[pos_] : 0u;
    ++pos_;
    return b;
  }

  void Advance(int bytes) { pos_ += static_cast<size_t>(bytes); }

  void Fill() {
    while (valid_ <= 24) {
      acc_ = (acc_ << 8) | LoadByte();
      valid_ += 8;
    }
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  uint32_t acc_ = 0;
  int valid_ = 0;
};

}  // namespace plumo
