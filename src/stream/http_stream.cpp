// Placeholder until the network stream is built: every address fails to open.
#include "http_stream.h"

namespace plumo {

struct THttpStream::TState {
  std::string Address;
};

THttpStream::THttpStream(std::string address, THttpOptions) : FState(std::make_unique<TState>()) {
  FState->Address = std::move(address);
}
THttpStream::~THttpStream() = default;
bool THttpStream::Ready() const { return true; }
void THttpStream::WaitReady() { throw EStreamError(FState->Address + ": network streams are not available"); }
void THttpStream::Cancel() {}
int32_t THttpStream::Read(void*, int32_t) { WaitReady(); return 0; }
int64_t THttpStream::Seek(int64_t, TSeekOrigin) { throw EStreamError("Stream seek error: " + FState->Address + ". Illegal seek"); }
int64_t THttpStream::Size() { throw EStreamError("Stream seek error: " + FState->Address + ". Illegal seek"); }
std::string THttpStream::Address() const { return FState->Address; }
std::string THttpStream::StationName() const { return ""; }
std::string THttpStream::StreamTitle() const { return ""; }
std::string THttpStream::EndMessage() const { return ""; }
std::string THttpStream::ContentType() const { return ""; }

}  // namespace plumo
