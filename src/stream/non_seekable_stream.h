// TNonSeekableStream: passes reads through to another stream but cannot seek or tell its size,
// like a pipe. It can also cut every read short, as pipes and sockets do.
#pragma once

#include <memory>

#include "stream.h"

namespace plumo {

class TNonSeekableStream final : public TStream {
 public:
  // Reads from inner (not owned, must outlive this stream). maxRead > 0 limits each read.
  explicit TNonSeekableStream(TStream& inner, int32_t maxRead = 0) : FInner(&inner), FMaxRead(maxRead) {}
  // Reads from an owned inner stream.
  explicit TNonSeekableStream(std::unique_ptr<TStream> inner, int32_t maxRead = 0)
      : FOwned(std::move(inner)), FInner(FOwned.get()), FMaxRead(maxRead) {}

  int32_t Read(void* buffer, int32_t count) override;
  // Both raise EStreamError.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;

 private:
  std::unique_ptr<TStream> FOwned;
  TStream* FInner;
  int32_t FMaxRead;
};

}  // namespace plumo
