#include "stream_decode.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "memory_stream.h"
#include "player.h"

namespace plumo {

StreamDecoder::StreamDecoder(Decoder& decoder, TStream& stream, bool seekable, const DecodeOptions& options)
    : FSource(decoder) {
  FSource.SetChannelChoice(options.channel_choice);
  FSource.SetGapless(options.gapless);
  FSource.SetLive(options.live, TMP3Player::kLiveGiveUpMs);
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
  info.length_samples = FSource.LengthSamples();
  info.start_trim = FSource.StartTrim();
  info.end_trim = FSource.EndTrim();
  return info;
}

int StreamDecoder::Decode(const PcmSink& sink, int64_t samples, size_t batch_bytes) {
  const size_t frame_bytes = static_cast<size_t>(FSource.BytesPerFrame());
  // Room for whole frames only: each frame is decoded straight into the batch.
  std::vector<uint8_t> pcm(std::max(frame_bytes, batch_bytes / std::max<size_t>(frame_bytes, 1) * frame_bytes));
  const int64_t bytes_per_sample = FSource.BytesPerFrame() / std::max(1, FSource.SamplesPerFrame());
  int64_t left = samples < 0 ? INT64_MAX : samples * bytes_per_sample;
  size_t filled = 0;
  const auto deliver = [&] {
    const size_t n = filled;
    filled = 0;
    if (n > 0) sink(std::span<const uint8_t>(pcm.data(), n));
  };
  int frames = 0;
  try {
    while (left > 0 && !FSource.AtEndOfData()) {
      if (pcm.size() - filled < frame_bytes) deliver();
      if (!FSource.ProduceFrame(pcm.data() + filled)) continue;
      if (FSource.TakeFormatChange()) {
        const OutputFormat f = FSource.Format();
        throw std::runtime_error("the stream changes to " + std::to_string(f.sample_rate) + " Hz " +
                                 (f.channels == 1 ? "mono" : "stereo") + ", which one recording cannot hold");
      }
      ++frames;
      const int64_t n = std::min<int64_t>(FSource.ProducedBytes(), left);
      if (n == 0) continue;
      // A frame cut at its start (the encoder's delay) closes up to what came before.
      if (FSource.ProducedOffset() != 0)
        std::memmove(pcm.data() + filled, pcm.data() + filled + FSource.ProducedOffset(), static_cast<size_t>(n));
      filled += static_cast<size_t>(n);
      left -= n;
    }
  } catch (...) {
    // What was decoded before a failure is delivered all the same.
    deliver();
    throw;
  }
  deliver();
  return frames;
}

void StreamDecoder::Seek(int64_t k) {
  // A stream that cannot seek decodes its frames before k and drops their samples.
  if (FSource.CanSeek())
    FSource.SeekSample(k);
  else
    FSource.PlayFrom(k);
}

StreamInfo OpenMpegStream(Decoder& decoder, std::span<const uint8_t> file, const DecodeOptions& options) {
  TMemoryStream stream(std::vector<uint8_t>(file.begin(), file.end()));
  StreamDecoder d(decoder, stream, true, options);
  d.CompleteIndex();
  return d.Info();
}

}  // namespace plumo
