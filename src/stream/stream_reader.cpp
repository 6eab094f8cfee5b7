#include "stream_reader.h"

#include <algorithm>
#include <cstring>

#include "assertion.h"

namespace plumo {

TMPStreamReader::TMPStreamReader(int32_t capacity) : FCapacity(capacity) {
  Assert(capacity > 0, "reader capacity must be positive");
}

void TMPStreamReader::Attach(TStream* stream, bool seekable) {
  Detach();
  Assert(stream != nullptr, "Attach needs a stream");
  FAttached = true;
  FStream = stream;
  FSeekable = seekable;
  FPosition = 0;
  FContiguous = 0;
  FHead = 0;
  FBuffered = 0;
  try {
    // new[] of bytes is aligned for any fundamental type, so on 8 bytes at least.
    FRing = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(FCapacity));
    if (seekable) {
      FSize = stream->Size();
      // Keep the invariant "stream position = Position + Buffered" for a stream that was
      // already moved before it was attached.
      FPosition = stream->Seek(0, soCurrent);
    }
  } catch (...) {
    Detach();
    throw;
  }
}

void TMPStreamReader::Detach() {
  if (!FAttached) return;
  FStream = nullptr;
  FContiguous = 0;
  FSize = 0;
  FRing.reset();
  FHead = 0;
  FBuffered = 0;
  FAttached = false;
}

void TMPStreamReader::UpdateContiguous() {
  FContiguous = FHead + FBuffered > FCapacity ? FCapacity - FHead : FBuffered;
}

void TMPStreamReader::Empty() {
  FHead = 0;
  FBuffered = 0;
  FContiguous = 0;
}

bool TMPStreamReader::Fill(int32_t n) {
  Assert(FAttached, "Fill needs an attached stream");
  Assert(n >= 0 && n <= FCapacity, "Fill count out of range");
  while (FBuffered < n) {
    int32_t chunk = n - FBuffered;
    if (chunk < kChunk) chunk = std::min(kChunk, FCapacity - FBuffered);
    const int32_t tail = static_cast<int32_t>((static_cast<int64_t>(FHead) + FBuffered) % FCapacity);
    if (chunk > FCapacity - tail) chunk = FCapacity - tail;  // one read never wraps
    const int32_t got = FStream->Read(FRing.get() + tail, chunk);
    if (got < 0 || got > chunk) throw EStreamError("Stream read error: invalid read count");
    if (got == 0) break;
    FBuffered += got;
  }
  UpdateContiguous();
  return FBuffered >= n;
}

bool TMPStreamReader::Ensure(int32_t n) {
  if (!Fill(n)) return false;
  if (FContiguous < n) Compact();
  return true;
}

bool TMPStreamReader::ReadAhead() {
  Assert(FAttached, "ReadAhead needs an attached stream");
  if (FBuffered == FCapacity) return false;
  // Reading ahead never waits for the network.
  if (FStream->ReadyBytes() <= 0) return false;
  return Fill(FBuffered + std::min(FCapacity - FBuffered, kChunk));
}

void TMPStreamReader::Compact() {
  if (!FRing) return;
  uint8_t* ring = FRing.get();
  const int32_t first = FCapacity - FHead;
  const int32_t wrap = FHead + FBuffered - FCapacity;
  if (wrap <= 0) {
    std::memmove(ring, ring + FHead, static_cast<size_t>(FBuffered));
  } else if (FHead > FBuffered) {
    // The wrapped bytes go to [first, Buffered), below head; then the first part to the start.
    std::memmove(ring + first, ring, static_cast<size_t>(wrap));
    std::memmove(ring, ring + FHead, static_cast<size_t>(first));
  } else {
    const std::unique_ptr<uint8_t[]> temp = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(first));
    std::memcpy(temp.get(), ring + FHead, static_cast<size_t>(first));
    std::memmove(ring + first, ring, static_cast<size_t>(wrap));
    std::memcpy(ring, temp.get(), static_cast<size_t>(first));
  }
  FHead = 0;
  FContiguous = FBuffered;
}

bool TMPStreamReader::Skip(int64_t n) {
  Assert(FAttached, "Skip needs an attached stream");
  Assert(n >= 0, "Skip count must not be negative");
  if (n <= FBuffered) {
    FBuffered -= static_cast<int32_t>(n);
    FHead = static_cast<int32_t>((FHead + n) % FCapacity);
    FPosition += n;
    UpdateContiguous();
    return true;
  }
  if (FSeekable) {
    if (FPosition > FSize || n > FSize - FPosition) {
      Seek(0, soEnd);
      return false;
    }
    const int64_t target = FPosition + n;
    FStream->Seek(target, soBeginning);
    FPosition = target;
    Empty();
    return true;
  }
  // Not seekable: pass the bytes by reading them. Bytes read beyond the target stay buffered.
  int64_t remaining = n;
  for (;;) {
    const int32_t take = static_cast<int32_t>(std::min<int64_t>(remaining, FBuffered));
    FBuffered -= take;
    FHead = static_cast<int32_t>((FHead + take) % FCapacity);
    FPosition += take;
    remaining -= take;
    if (remaining == 0) {
      UpdateContiguous();
      return true;
    }
    // The ring is empty here; start it at index 0 so that each fill is one large read.
    FHead = 0;
    const int32_t want = static_cast<int32_t>(std::min<int64_t>(remaining, FCapacity));
    if (!Fill(want)) {
      FPosition += FBuffered;
      Empty();
      return false;
    }
  }
}

int64_t TMPStreamReader::Seek(int64_t offset, TSeekOrigin origin) {
  Assert(FAttached, "Seek needs an attached stream");
  Assert(FSeekable, "Seek needs a seekable stream");
  if (origin == soCurrent) offset -= FBuffered;
  FPosition = FStream->Seek(offset, origin);
  Empty();
  return FPosition;
}

}  // namespace plumo
