// TMPStreamReader: buffers an input stream in a ring so that a whole frame can be seen in one
// contiguous block, reads the stream in large chunks and tracks the logical read position.
//
// The stream's own position is always Position() + Buffered(). One thread at a time.
// Broken preconditions raise EAssertionFailed naming "MP3Plyr"; stream errors pass through.
#pragma once

#include <cstdint>
#include <memory>

#include "stream.h"

namespace plumo {

class TMPStreamReader {
 public:
  // Smallest read size whenever the ring has that much room.
  static constexpr int32_t kChunk = 16384;

  // capacity > 0, else an assertion failure.
  explicit TMPStreamReader(int32_t capacity);
  TMPStreamReader(const TMPStreamReader&) = delete;
  TMPStreamReader& operator=(const TMPStreamReader&) = delete;
  ~TMPStreamReader() { Detach(); }

  // Detaches, then reads from stream (not owned). Allocates the ring; a seekable stream's size
  // is read once here and Position starts at the stream's current position (0 otherwise).
  void Attach(TStream* stream, bool seekable);
  // Forgets the stream (never frees it) and frees the ring.
  void Detach();

  // Reads until at least n bytes (0 <= n <= Capacity) are buffered; false at the end of stream.
  bool Fill(int32_t n);
  // Fill(n), then makes the n bytes contiguous at Data(); false at the end of stream.
  bool Ensure(int32_t n);
  // Buffers up to 16 KiB more; false when the ring is full, the stream has ended or its next
  // bytes are still on their way over the network.
  bool ReadAhead();
  // Moves the buffered bytes to the start of the ring.
  void Compact();
  // Advances Position by n >= 0. False when the stream ends first: a seekable reader is then
  // at the end of the stream, a non-seekable one has passed everything it could read.
  bool Skip(int64_t n);
  // Repositions a seekable stream (offset from the beginning, the current Position or the end)
  // and empties the ring; returns the new Position.
  int64_t Seek(int64_t offset, TSeekOrigin origin);

  // First buffered byte; Contiguous() bytes are readable from here.
  const uint8_t* Data() const { return FRing ? FRing.get() + FHead : nullptr; }

  TStream* Stream() const { return FStream; }
  bool Attached() const { return FAttached; }
  bool Seekable() const { return FSeekable; }
  int64_t Size() const { return FSize; }
  int32_t Capacity() const { return FCapacity; }
  int32_t Buffered() const { return FBuffered; }
  int32_t Contiguous() const { return FContiguous; }
  int64_t Position() const { return FPosition; }
  // Ring index of the first buffered byte.
  int32_t Head() const { return FHead; }

 private:
  void UpdateContiguous();
  void Empty();

  TStream* FStream = nullptr;
  int64_t FSize = 0;
  bool FSeekable = false;
  bool FAttached = false;
  std::unique_ptr<uint8_t[]> FRing;
  int32_t FHead = 0;
  int32_t FBuffered = 0;
  int32_t FCapacity;
  int64_t FPosition = 0;
  int32_t FContiguous = 0;
};

}  // namespace plumo
