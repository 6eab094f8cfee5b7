// Decoder set-up, output format and frame dispatch.
#include "decoder.h"

#include <algorithm>
#include <cstring>

#include "decoder_context.h"
#include "huffman.h"

namespace plumo {
namespace {

// Stream sampling rates in Hz by id and sampling_frequency.
constexpr int kSampleRate[2][4] = {{22050, 24000, 16000, 0}, {44100, 48000, 32000, 0}};

DecodeResult RejectFrame(DecoderContext&, const uint8_t*, size_t, uint8_t*) { return {}; }

DecodeResult DispatchLayer3(DecoderContext& ctx, const uint8_t* frame, size_t size, uint8_t* pcm) {
  return ctx.layer3_frame_decoder(ctx, frame, size, pcm);
}

// Frame decoders by layer_code.
constexpr FrameDecoderFn kFrameDecoders[4] = {DecodeLayer2Frame, DispatchLayer3, DecodeLayer2Frame,
                                              DecodeLayer1Frame};

}  // namespace

DecoderContext::DecoderContext() {
  std::fill(std::begin(subband_gains), std::end(subband_gains), 1.0f);
  std::fill(std::begin(line_gains), std::end(line_gains), 1.0f);
  BuildSynthesisWindow(window);
  kernels = KernelsFor(ChooseKernels(SelectionFlags(DetectCpu())));
  frame_decoder = RejectFrame;
  layer3_frame_decoder = RejectFrame;
}

Decoder::Decoder() : ctx_(std::make_unique<DecoderContext>()) { PrepareHuffmanTables(); }
Decoder::~Decoder() = default;

int Decoder::Setup(const FrameHeader& h, int frame_length, int downsample_shift, int /*reserved*/, int output_mode,
                   int band_limit_hz) {
  DecoderContext& ctx = *ctx_;
  ctx.configured = false;
  if (h.layer_code < 1 || h.layer_code > 3) return 0;
  if (h.sampling_frequency < 0 || h.sampling_frequency > 2) return 0;
  // Only 16-bit output at the full rate exists.
  if (output_mode & 0x08) return 0;
  if (downsample_shift != 0) return 0;

  ctx.frame_decoder = kFrameDecoders[h.layer_code];
  ctx.header = h;
  ctx.layer_code = h.layer_code;
  ctx.eight_bit = 0;
  ctx.channel_choice = output_mode & 3;
  ctx.downsample_shift = 0;
  band_limit_hz = std::max(band_limit_hz, 1000);
  ctx.frame_length = frame_length;

  const bool layer2 = h.layer_code == 2;
  const bool layer3 = h.layer_code == 1;
  if (layer2) {
    if (!SetupLayer2Allocation(ctx, h)) return 0;
  } else {
    ctx.sblimit = 32;
  }

  int fs = kSampleRate[h.id][h.sampling_frequency];
  if (layer3 && h.sync_kind == 2) fs /= 2;
  ctx.stream_channels = HeaderChannels(h);
  int subbands = std::min((band_limit_hz * 64 + fs / 2) / fs, 32);
  ctx.band_subbands = subbands;
  subbands = std::min(subbands, ctx.sblimit);
  ctx.synth_subbands = subbands;
  if (ctx.stream_channels == 2 && !layer3) {
    ctx.sblimit *= 2;
    ctx.synth_subbands *= 2;
  }

  const int v = ctx.stream_channels == 1 ? 0 : ctx.channel_choice + 1;
  ctx.output_channels = v == 1 ? 2 : 1;
  const int per_channel = layer3 ? (h.id == 1 ? 1152 : 576) : (layer2 ? 1152 : 384);
  ctx.pcm_samples_per_frame = per_channel * ctx.output_channels;
  ctx.pcm_bytes_per_frame = ctx.pcm_samples_per_frame * 2;
  ctx.pcm_bytes_per_granule = ctx.pcm_bytes_per_frame / 2;
  ctx.silence_byte = 0;

  ctx.output_stage = SelectLayer12OutputStage(v);
  ctx.layer3_output_stage = SelectLayer3OutputStage(ctx.output_channels);

  ctx.format = {ctx.output_channels, ctx.pcm_samples_per_frame, fs, 16, frame_length, 0};
  ctx.samples.Clear();
  if (layer3) SetupLayer3(ctx, h);
  ResetSynthesis(ctx);
  ctx.configured = true;
  return 1;
}

OutputFormat Decoder::GetOutputFormat() const { return ctx_->format; }

DecodeResult Decoder::DecodeFrame(const uint8_t* frame, size_t size, uint8_t* pcm) {
  DecoderContext& ctx = *ctx_;
  if (!ctx.configured || size < 4) return {};
  return ctx.frame_decoder(ctx, frame, size, pcm);
}

int Decoder::PcmBytesPerFrame() const { return ctx_->pcm_bytes_per_frame; }

void Decoder::SetPolarity(bool on) {
  DecoderContext& ctx = *ctx_;
  if ((ctx.polarity != 0) == on) return;
  for (auto& row : ctx.window.lo)
    for (float& c : row) c = -c;
  for (auto& row : ctx.window.hi)
    for (float& c : row) c = -c;
  for (float& c : ctx.window.first) c = -c;
  WidenSynthesisWindow(ctx.window);
  ctx.polarity = on ? 1 : 0;
}

int Decoder::GetPolarity() const { return ctx_->polarity; }

void Decoder::SelectKernels(uint32_t flags) { ctx_->kernels = KernelsFor(ChooseKernels(SelectionFlags(flags))); }
void Decoder::SelectKernelSet(const KernelChoice& choice, KernelForm form) { ctx_->kernels = KernelsFor(choice, form); }
KernelChoice Decoder::SelectedKernels() const { return ctx_->kernels.choice; }
std::string Decoder::KernelReport() const { return plumo::KernelReport(ctx_->kernels); }

float* Decoder::SubbandGains() { return ctx_->subband_gains; }
float* Decoder::LineGains() { return ctx_->line_gains; }
void Decoder::SetSubbandEqualizerOn(bool on) { ctx_->subband_eq_on = on; }
void Decoder::SetLineEqualizerOn(bool on) { ctx_->line_eq_on = on; }
bool Decoder::SubbandEqualizerOn() const { return ctx_->subband_eq_on; }
bool Decoder::LineEqualizerOn() const { return ctx_->line_eq_on; }

Decoder& ProcessDecoder() {
  static Decoder decoder;
  return decoder;
}

int DecoderSetup(const FrameHeader& header, int frame_length, int downsample_shift, int reserved, int output_mode,
                 int band_limit_hz) {
  return ProcessDecoder().Setup(header, frame_length, downsample_shift, reserved, output_mode, band_limit_hz);
}

void GetOutputFormat(OutputFormat& destination) { destination = ProcessDecoder().GetOutputFormat(); }

DecodeResult DecodeFrame(const uint8_t* frame, size_t size, uint8_t* pcm) {
  return ProcessDecoder().DecodeFrame(frame, size, pcm);
}

void SetPolarity(bool on) { ProcessDecoder().SetPolarity(on); }
int GetPolarity() { return ProcessDecoder().GetPolarity(); }

}  // namespace plumo
