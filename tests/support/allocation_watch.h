// Learns the largest single allocation made while a TAllocationWatch is alive, by replacing the
// global allocation functions. Include it in exactly one source file of a test program.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace plumo::test {
namespace allocation_detail {
inline std::atomic<int> watching{0};
inline std::atomic<size_t> largest{0};

inline void* Allocate(size_t size) {
  if (watching.load(std::memory_order_relaxed) > 0) {
    size_t seen = largest.load(std::memory_order_relaxed);
    while (size > seen && !largest.compare_exchange_weak(seen, size)) {
    }
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace allocation_detail

struct TAllocationWatch {
  TAllocationWatch() {
    allocation_detail::largest = 0;
    ++allocation_detail::watching;
  }
  TAllocationWatch(const TAllocationWatch&) = delete;
  TAllocationWatch& operator=(const TAllocationWatch&) = delete;
  ~TAllocationWatch() { --allocation_detail::watching; }
  size_t Largest() const { return allocation_detail::largest.load(); }
};
}  // namespace plumo::test

void* operator new(size_t size) { return plumo::test::allocation_detail::Allocate(size); }
void* operator new[](size_t size) { return plumo::test::allocation_detail::Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
