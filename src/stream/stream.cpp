#include "stream.h"

namespace plumo {

int64_t TStream::Size() {
  const int64_t here = Seek(0, soCurrent);
  const int64_t end = Seek(0, soEnd);
  Seek(here, soBeginning);
  return end;
}

}  // namespace plumo
