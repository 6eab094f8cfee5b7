#include "stream_decode.h"

#include <algorithm>
#include <vector>

#include "memory_stream.h"

namespace plumo {

StreamDecoder::StreamDecoder(Decoder& decoder, TStream& stream, bool seekable, const DecodeOptions& options)
    : FSource(decoder) {
  FSource.SetChannelChoice(options.channel_choice);
  FSource.Open(&stream, seekable);
  decoder.SetPolarity(options.invert_polarity);
  TEqualizerSettings eq;
  eq.enabled = !options.eq_levels.empty();
  eq.mode = options.eq_mode;
  eq.count = std::clamp(static_cast<int32_t>(options.eq_levels.size()), 1, kEqualizerBands);
  for (size_t i = 0; i < options.eq_levels.size() && i < eq.levels.size(); ++i) eq.levels[i] = options.eq_levels[i];
  SetEqualizerRange(eq, 60, 16000);
  RebuildEqualizer(eq, FSource.SampleRate(), FSource.Layer(), decoder);
}

StreamInfo StreamDecoder::Info() const {
  StreamInfo info;
  info.header = FSource.Header();
  info.format = FSource.Format();
  info.bitrate = FSource.FirstBitrate();
  info.data_start = FSource.DataStart();
  info.data_length = FSource.DataLength();
  info.vbr = FSource.VbrHeader();
  info.vbr_frames = FSource.VbrFrames();
  return info;
}

int StreamDecoder::DecodeAll(const PcmSink& sink) {
  std::vector<uint8_t> pcm(static_cast<size_t>(FSource.BytesPerFrame()));
  int frames = 0;
  while (!FSource.AtEndOfData()) {
    if (!FSource.ProduceFrame(pcm.data())) continue;
    sink(pcm);
    ++frames;
  }
  return frames;
}

StreamInfo OpenMpegStream(Decoder& decoder, std::span<const uint8_t> file, const DecodeOptions& options) {
  TMemoryStream stream(std::vector<uint8_t>(file.begin(), file.end()));
  return StreamDecoder(decoder, stream, true, options).Info();
}

}  // namespace plumo
