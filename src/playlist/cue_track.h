// A sheet's track as the span of its file the player plays: its start and end in CD frames, the
// silence the sheet asks for, its names and its ReplayGain values.
#pragma once

#include "cue_sheet.h"
#include "mp3_source.h"

namespace plumo {

TTrackSpan CueTrackSpan(const TCueSheet& sheet, const TCueTrack& track);

}  // namespace plumo
