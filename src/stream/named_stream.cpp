#include "named_stream.h"

#include "file_stream.h"
#include "http_stream.h"
#include "text_conversion.h"

namespace plumo {

bool IsStreamAddress(const std::string& name) {
  return StartsWithNoCase(name, "http://") || StartsWithNoCase(name, "https://");
}

TNamedStream OpenNamedStream(const std::string& name) {
  TNamedStream result;
  if (IsStreamAddress(name)) {
    result.Stream = std::make_unique<THttpStream>(name);
    return result;
  }
  auto file = std::make_unique<TFileStream>(name);
  // A regular file tells its size; a pipe, a FIFO or a terminal cannot seek.
  try {
    file->Size();
    file->Seek(0, soCurrent);
    result.Seekable = true;
  } catch (const EStreamError&) {
    result.Seekable = false;
  }
  result.Stream = std::move(file);
  return result;
}

}  // namespace plumo
