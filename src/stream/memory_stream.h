// TMemoryStream: a seekable read-only stream over bytes it owns.
#pragma once

#include <cstdint>
#include <vector>

#include "stream.h"

namespace plumo {

class TMemoryStream final : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : FBytes(std::move(bytes)) {}

  int32_t Read(void* buffer, int32_t count) override;
  // The position may be set beyond the end (reads there return 0), not before the beginning.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(FBytes.size()); }

  const std::vector<uint8_t>& Bytes() const { return FBytes; }

 private:
  std::vector<uint8_t> FBytes;
  int64_t FPosition = 0;
};

}  // namespace plumo
