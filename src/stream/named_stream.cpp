#include "named_stream.h"

#include "file_stream.h"
#include "http_stream.h"
#include "text_conversion.h"

namespace plumo {

bool IsStreamAddress(const std::string& name) {
  return StartsWithNoCase(name, "http://") || StartsWithNoCase(name, "https://");
}

std::string WithoutCredentials(const std::string& address) {
  const size_t scheme = address.find("://");
  if (scheme == std::string::npos) return address;
  const size_t host = scheme + 3;
  const size_t end = address.find_first_of("/?#", host);
  const size_t at = address.rfind('@', end == std::string::npos ? address.size() : end);
  if (at == std::string::npos || at < host) return address;
  return address.substr(0, host) + address.substr(at + 1);
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
