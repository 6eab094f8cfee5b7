// THttpStream: an http:// or https:// resource read as a live, non-seekable stream (internet
// radio). A thread of its own connects, follows redirects and fills a read-ahead buffer, so that
// Read never waits on the network while buffered bytes remain. With ICY metadata (the response's
// icy-metaint) the metadata blocks are cut out of the bytes Read returns and their StreamTitle
// becomes StreamTitle().
//
// A station that has played is connected to again after a drop, a stall, a 5xx answer, a
// refused connection or a missing mount (404, as while its encoder restarts; a few times), after a growing pause (1, 2, 4 ... 30 s, or the server's Retry-After), for
// as long as the owner reads: Read then waits, Reconnecting() is true, and the new response's
// bytes follow the old ones. A response that is a playlist (by its Content-Type, or by an address
// ending in .pls/.m3u/.m3u8 and a body that reads as one) is not audio: its text is kept
// (PlaylistText) for the owner to read with the playlist readers. AAC and HLS answers are refused
// by name.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "live_stream.h"

namespace plumo {

struct THttpOptions {
  int32_t ConnectTimeoutMs = 10000;  // connecting (name lookup, TCP, TLS)
  int32_t StallTimeoutMs = 15000;    // no data at all for this long ends the stream
  int32_t MaxRedirects = 8;
  int32_t BufferBytes = 1 << 20;     // read-ahead buffer
  // Play time buffered before the stream counts as ready, at the bit rate the station names
  // (icy-br) or its first frame shows; PrebufferBytes when neither tells it.
  int32_t PrebufferMs = 2000;
  int32_t PrebufferBytes = 32768;
  // A station that has played is connected to again after a fault; with ReconnectAfterEnd also
  // after the server ended a response without a length cleanly (a live stream never ends).
  bool Reconnect = true;
  bool ReconnectAfterEnd = true;
  int32_t ReconnectFirstDelayMs = 1000;  // doubled after each failed attempt...
  int32_t ReconnectMaxDelayMs = 30000;   // ...up to this
  // Asks for the resource from this byte on (a Range request); 0 asks for all of it. A server
  // that answers with the whole resource instead has the bytes before it skipped.
  int64_t RangeFrom = 0;
  // Largest playlist body read; a longer one is cut there.
  int32_t MaxPlaylistBytes = 65536;
  // When the owner sets it (from any thread or a signal's watcher), the stream acts as on Cancel
  // within a quarter of a second. It must outlive the stream.
  const std::atomic<bool>* Abort = nullptr;
  // Called once, on the stream's own thread, when Ready() becomes true. Must not call back into
  // the stream except through Ready() and thread-safe queries.
  std::function<void()> OnReady;
};

class THttpStream final : public TLiveStream {
 public:
  // Starts connecting on the stream's own thread and returns at once.
  explicit THttpStream(std::string address, THttpOptions options = {});
  // Cancels any transfer at once and waits for the thread.
  ~THttpStream() override;

  // Connected with a successful response and PrebufferBytes buffered, or the response ended
  // sooner, or the connection failed. Thread-safe.
  bool Ready() const;
  // Blocks until Ready(). Raises EStreamError with the failure's message (the address and the
  // reason: refused, unreachable, a certificate that does not verify, "HTTP 404 Not Found", too
  // many redirects, a time-out) when the connection failed before any byte arrived.
  void WaitReady();
  void Cancel() override;

  // Blocks until bytes are buffered or the stream has ended. Raises EStreamError for a failure
  // before the first byte (as WaitReady); a drop or stall later ends the stream (0, EndMessage).
  int32_t Read(void* buffer, int32_t count) override;
  // Both raise EStreamError: the stream cannot seek and has no size.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;

  std::string Address() const override;
  std::string StationName() const override;
  std::string StreamTitle() const override;
  std::string EndMessage() const override;
  // The response's Content-Type ("" before the response).
  std::string ContentType() const;
  // After WaitReady: the response was a playlist, and its text (at most MaxPlaylistBytes).
  bool IsPlaylist() const;
  std::string PlaylistText() const;
  bool Reconnecting() const override;
  bool BufferFull() const override;
  // After WaitReady: the response is a file, not a station (it gave a Content-Length and no ICY
  // metadata). A file's drop or early end is not connected again: its reader asks for the rest.
  bool IsFile() const;
  // A file's whole size in bytes (from Content-Range, else RangeFrom plus Content-Length).
  int64_t FileSize() const;
  // The server takes Range requests (Accept-Ranges: bytes, or it answered one with 206).
  bool AcceptsRanges() const;

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

}  // namespace plumo
