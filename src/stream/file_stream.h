// TFileStream: a read-only stream on a file (or on anything the system can open for reading,
// such as a pipe, which then cannot seek).
#pragma once

#include <string>

#include "stream.h"

namespace plumo {

class TFileStream final : public TStream {
 public:
  // Opens the file for reading. Raises EFOpenError with the message
  // `Cannot open file "<name>". <reason>` when it cannot be opened or is a folder.
  explicit TFileStream(const std::string& fileName);
  ~TFileStream() override;

  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;

  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
  int FHandle = -1;
};

}  // namespace plumo
