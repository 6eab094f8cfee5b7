// TStream: a small abstract byte stream (read, seek with three origins, size) and its errors.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace plumo {

// Any failure of a stream operation (read, seek, size).
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that cannot be opened; the message names the file and the system's reason, Error() is
// that reason's errno (0 when unknown).
class EFOpenError : public EStreamError {
 public:
  explicit EFOpenError(const std::string& message, int error = 0) : EStreamError(message), FError(error) {}
  int Error() const { return FError; }

 private:
  int FError;
};

// Raised by Read instead of waiting for the network while the stream's reads are interrupted.
struct TReadInterrupted {};

enum TSeekOrigin : uint8_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Reads up to count bytes into buffer; returns how many were read, 0 at the end of the stream.
  // A short read does not mean the end: callers read again. Raises EStreamError on failure.
  virtual int32_t Read(void* buffer, int32_t count) = 0;

  // Moves the stream position and returns the new position. Raises EStreamError when the
  // stream cannot seek or the target lies before the beginning.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  // Total length in bytes. The default seeks to the end and back.
  virtual int64_t Size();

  // Bytes from the current position on that Read returns without waiting for the network; a
  // local stream never waits for it.
  virtual int64_t ReadyBytes() { return INT64_MAX; }
  // While on (calls pair up and may nest), a Read that would wait for the network (also one
  // waiting now) raises TReadInterrupted at once. Thread-safe.
  virtual void InterruptReads(bool on) { (void)on; }

  // Current position (Seek(0, soCurrent)).
  int64_t Position() { return Seek(0, soCurrent); }
};

}  // namespace plumo
