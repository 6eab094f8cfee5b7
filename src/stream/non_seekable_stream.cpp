#include "non_seekable_stream.h"

namespace plumo {

int32_t TNonSeekableStream::Read(void* buffer, int32_t count) {
  if (FMaxRead > 0 && count > FMaxRead) count = FMaxRead;
  return FInner->Read(buffer, count);
}

int64_t TNonSeekableStream::Seek(int64_t, TSeekOrigin) {
  throw EStreamError("Stream seek error: the stream cannot seek");
}

int64_t TNonSeekableStream::Size() { throw EStreamError("Stream size error: the stream cannot seek"); }

}  // namespace plumo
