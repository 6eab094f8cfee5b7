// THttpFileStream: a file on a web server (a podcast episode) read as a seekable stream. A thread
// of its own fetches the bytes in order into an unnamed temporary file, from the response that
// found the file on, and Read takes them from there, so that reading back costs nothing. A read
// far from what is being fetched (a seek) fetches from there with a Range request; what was left
// out is fetched after the end. A fetch that breaks off is asked for again from where it broke
// off, a few times, before reading fails.
#pragma once

#include <memory>
#include <string>

#include "http_stream.h"
#include "named_stream.h"

namespace plumo {

class THttpFileStream final : public TStream {
 public:
  // first: a response that IsFile(), read from its first byte. The options are those of every
  // later request (their Abort flag included).
  explicit THttpFileStream(std::unique_ptr<THttpStream> first, THttpOptions options = {});
  // Stops every transfer and waits for the fetching thread.
  ~THttpFileStream() override;

  // Waits for the bytes at the position; 0 at the end of the file or once cancelled. Raises
  // EStreamError (the address and the reason) when the server no longer gives them.
  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  int64_t ReadyBytes() override;
  void InterruptReads(bool on) override;

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// The stream to play a connected response as: a file becomes a THttpFileStream (seekable when its
// server takes ranges; else read once, in order, as a pipe), anything else (a station) stays as
// it is.
TNamedStream FileOrStation(std::unique_ptr<THttpStream> response, THttpOptions options = {});

}  // namespace plumo
