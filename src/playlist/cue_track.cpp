#include "cue_track.h"

namespace plumo {

TTrackSpan CueTrackSpan(const TCueSheet& sheet, const TCueTrack& track) {
  TTrackSpan span;
  span.PerSecond = static_cast<int32_t>(kCueFramesPerSecond);
  span.First = track.Start;
  span.End = track.End;
  span.LeadSilence = track.Pregap;
  span.TailSilence = track.Postgap;
  span.Title = track.Title;
  span.Artist = track.Performer;
  span.Album = sheet.Title;
  span.Gain = track.Gain;
  return span;
}

}  // namespace plumo
