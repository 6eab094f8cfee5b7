// Most-significant-bit-first reader over a byte buffer, used by every layer decoder.
//
// The accumulator's low `valid` bits are the not yet consumed ones (bits above them are stale and
// masked off on reading). It holds at most 32 of them and is refilled with whole bytes until it
// holds more than 24, so `ReadBits` serves reads of up to 24 bits. The reader never touches memory
// past the hard end given to `Start`: bytes beyond it read as zero. Callers detect overruns of their
// own data through `BytePosition` or `BitPosition`.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

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
    return (acc_ >> valid_) & Mask(n);
  }

  // Returns the next n bits without consuming them (n <= 24).
  uint32_t PeekBits(int n) {
    if (valid_ < 11 || n > valid_) Fill();
    return (acc_ >> (valid_ - n)) & Mask(n);
  }

  // For peeks by a constant shift: refills as PeekBits(n) would for any n <= 11, and returns the
  // held bits left-aligned (their first bit in bit 31, zeros below the last).
  uint32_t PrepareAligned() {
    if (valid_ < 11) Fill();
    return Aligned();
  }
  // The number of held bits.
  int HeldBits() const { return valid_; }
  // The held bits left-aligned.
  uint32_t Aligned() const { return valid_ == 0 ? 0u : acc_ << (32 - valid_); }

  // Read for escape values: refills when fewer than n + 2 bits are held.
  uint32_t ReadEscapeBits(int n) {
    if (n + 2 > valid_) Fill();
    valid_ -= n;
    return (acc_ >> valid_) & Mask(n);
  }

  // Consumes n bits (0 <= n <= 24) and loads exactly as n successive one-bit reads would: the
  // held bits first, then, if more are needed, a refill from empty.
  uint32_t ReadSingleBits(int n) {
    if (n <= valid_) {
      valid_ -= n;
      return (acc_ >> valid_) & Mask(n);
    }
    const int rest = n - valid_;
    const uint32_t head = acc_ & Mask(valid_);
    valid_ = 0;
    Fill();
    valid_ -= rest;
    return (head << rest) | ((acc_ >> valid_) & Mask(rest));
  }

  // Drops n bits that are held (after a peek of at least n bits): SkipBits without its refill.
  void Consume(int n) { valid_ -= n; }

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
  }

  // Bits consumed since `Start`.
  int BitPosition() const { return static_cast<int>(pos_) * 8 - valid_; }

  // Offset from the start of the next byte the accumulator would load.
  size_t BytePosition() const { return pos_; }

  // The buffer given to `Start`.
  const uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  static uint32_t Mask(int bits) { return bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1u); }

  uint32_t LoadByte() {
    const uint32_t b = pos_ < size_ ? data_[pos_] : 0u;
    ++pos_;
    return b;
  }

  void Advance(int bytes) { pos_ += static_cast<size_t>(bytes); }

  // Loads whole bytes until more than 24 bits are held: (32 - valid) / 8 of them, in one
  // big-endian word where the buffer has four more bytes.
  void Fill() {
    if (pos_ + 4 <= size_) {
      const int bytes = (32 - valid_) >> 3;
      const uint8_t* p = data_ + pos_;
      const uint32_t word = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
      // bytes is 1 .. 4; a shift by 32 must be avoided.
      acc_ = bytes == 4 ? word : (acc_ << (8 * bytes)) | (word >> (32 - 8 * bytes));
      valid_ += 8 * bytes;
      pos_ += static_cast<size_t>(bytes);
      return;
    }
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

// A reader for hot loops with a 64-bit window: after `Refill` at least 56 bits are held, so a
// run of reads of up to 56 bits in all needs no further check. The window's bits are left-aligned;
// below the held ones it may already carry the following stream bits, which the next refill ORs
// in again unchanged. Like BitReader it never reads past the end given to it (bytes there read as
// zero), and its byte position counts on past the end so callers can detect an overrun.
class WideBitReader {
 public:
  // Continues where `from` stands.
  explicit WideBitReader(const BitReader& from) : data_(from.Data()), size_(from.Size()) {
    const int bit = from.BitPosition();
    pos_ = static_cast<size_t>(bit / 8);
    Refill();
    Skip(bit % 8);
  }

  // Tops the window up to at least 56 held bits.
  void Refill() {
    if (held_ > 56) return;
    if (pos_ + 8 <= size_) {
      window_ |= LoadBigEndian64(data_ + pos_) >> held_;
      const int bytes = (63 - held_) >> 3;
      pos_ += static_cast<size_t>(bytes);
      held_ += 8 * bytes;
      return;
    }
    while (held_ <= 56) {
      const uint64_t b = pos_ < size_ ? data_[pos_] : 0u;
      window_ |= b << (56 - held_);
      ++pos_;
      held_ += 8;
    }
  }

  // Refills when fewer than n bits are held (n <= 56).
  void Ensure(int n) {
    if (held_ < n) Refill();
  }

  // The next n bits (1 <= n <= 32), which must be held.
  uint32_t Take(int n) {
    const uint32_t v = static_cast<uint32_t>(window_ >> (64 - n));
    window_ <<= n;
    held_ -= n;
    return v;
  }

  // The next n bits (0 <= n <= 32) without consuming them; they must be held.
  uint32_t Peek(int n) const { return n == 0 ? 0u : static_cast<uint32_t>(window_ >> (64 - n)); }

  // Drops n held bits (0 <= n <= 56).
  void Skip(int n) {
    window_ = n >= 64 ? 0 : window_ << n;
    held_ -= n;
  }

  int Held() const { return held_; }
  // Bits consumed since the start of the buffer.
  size_t BitPosition() const { return pos_ * 8 - static_cast<size_t>(held_); }
  // Offset of the next byte a refill would load.
  size_t BytePosition() const { return pos_; }

 private:
  static uint64_t LoadBigEndian64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  uint64_t window_ = 0;
  int held_ = 0;
};

}  // namespace plumo
