// The cover a track embeds, as a file the desktop's media controls can show: written once per
// distinct image into $XDG_CACHE_HOME/plumo/covers/ (else ~/.cache/plumo/covers/), named by a hash
// of its bytes, readable by the user only.
#pragma once

#include <string>

#include "mp3_info.h"

namespace plumo {

// The cover file's path, written when it is not there yet; "" when the picture is not a JPEG or
// PNG image (or there is none), or the file cannot be written.
std::string CoverArtFile(const TPicture& picture);

}  // namespace plumo
