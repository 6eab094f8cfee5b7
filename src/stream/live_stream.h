// TLiveStream: a stream from a live source (an internet radio station) that names the station and
// what it plays now. It cannot seek and has no size.
#pragma once

#include <functional>
#include <string>

#include "stream.h"

namespace plumo {

class TLiveStream : public TStream {
 public:
  // The address as it was given.
  virtual std::string Address() const = 0;
  // The station's name from the response headers (icy-name); "" when it gave none or before the
  // response has arrived.
  virtual std::string StationName() const = 0;
  // The title the station gave last for the bytes Read has returned so far (StreamTitle); "" until
  // it names one. Titles are taken in as Read passes them, so a title changes with the audio it
  // belongs to, not when it reaches the read-ahead buffer.
  virtual std::string StreamTitle() const = 0;
  // Why the stream ended: "" while it runs and after the server ended it cleanly; else a message
  // that names the address and the reason (the connection was lost and could not be made again,
  // no data came for too long). Read returns 0 once the stream has ended either way.
  virtual std::string EndMessage() const = 0;
  // Makes every wait and read return at once (Read returns 0) and stops the transfer.
  // Thread-safe: the owner calls it while another thread may wait in Read.
  virtual void Cancel() = 0;
  // The connection was lost and a new one is being made; Read waits meanwhile. Thread-safe.
  virtual bool Reconnecting() const { return false; }
  // The read-ahead buffer is full and the transfer waits for the reader (a long pause): what is
  // buffered is behind the live station. Thread-safe.
  virtual bool BufferFull() const { return false; }

  // Called from inside Read, on the thread that reads, each time StreamTitle changes. Set it
  // before the first Read.
  std::function<void()> OnTitleChange;
};

}  // namespace plumo
