// A fixed-size decoder buffer of N elements of T (T may itself be an array type, for rows).
//
// Normally the elements live inline, 64-byte aligned. In sanitizer and fuzzing builds
// (PLUMO_SEPARATE_BUFFERS) each buffer is a heap block of its own, sized exactly, so an access
// past its end or before its start leaves the block and AddressSanitizer reports it; inline, such
// an access would land silently in the neighbouring member of the same object.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

namespace plumo {

template <typename T, size_t N>
class FixedBuffer {
  struct alignas(64) Block {
    T items[N];
  };
  static_assert(sizeof(Block) == sizeof(T) * N, "the block must end where its last element ends");

 public:
  static constexpr size_t kSize = N;
  static constexpr size_t kBytes = sizeof(T) * N;

#if PLUMO_SEPARATE_BUFFERS
  FixedBuffer() : block_(std::make_unique<Block>()) {}
  T* data() { return block_->items; }
  const T* data() const { return block_->items; }
#else
  T* data() { return block_.items; }
  const T* data() const { return block_.items; }
#endif

  // Indexing and pointer arithmetic as for a built-in array.
  operator T*() { return data(); }
  operator const T*() const { return data(); }

  void Clear() { std::memset(static_cast<void*>(data()), 0, kBytes); }

 private:
#if PLUMO_SEPARATE_BUFFERS
  std::unique_ptr<Block> block_;
#else
  Block block_{};
#endif
};

}  // namespace plumo
