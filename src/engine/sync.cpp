#include "sync.h"

namespace plumo {

void TMPSimpleMutex::Enter() { FMutex.lock(); }

void TMPSimpleMutex::Leave() { FMutex.unlock(); }

void TMPEvent::ResetEvent() { FHandle.Reset(); }

void TMPEvent::SetEvent() { FHandle.Set(); }

TWaitResult TMPEvent::WaitFor(int32_t ms) { return FHandle.Wait(ms) ? wrSignaled : wrTimeout; }

bool TMPEvent::Signaled() const { return FHandle.IsSet(); }

}  // namespace plumo
