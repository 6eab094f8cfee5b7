// Opening a stream by name: a stream address (http://, https://) becomes a network stream, any
// other name a file, which is seekable only when the system can seek in it (not a pipe, a FIFO
// or a terminal).
#pragma once

#include <memory>
#include <string>

#include "stream.h"

namespace plumo {

// Whether name is a stream address: it begins with "http://" or "https://" (the scheme in any case).
bool IsStreamAddress(const std::string& name);

// address without "user:password@" (a file's path as it stands): the form every message and
// display shows.
std::string WithoutCredentials(const std::string& address);

struct TNamedStream {
  std::unique_ptr<TStream> Stream;
  bool Seekable = false;
};

// Opens name for reading. A file that cannot be opened raises EFOpenError; a network stream
// starts connecting and reports its failures on its first read.
TNamedStream OpenNamedStream(const std::string& name);

}  // namespace plumo
