// Microbenchmarks of the synthesis and hybrid filterbank kernels, per variant. The whole-program
// comparison with mpg123 and ffmpeg is decode_speed.sh; these show where a kernel change moves.
// Each result's label names the form that ran; the "selected" rows are what the decoder's own
// selection runs on this processor.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "cpu.h"
#include "decoder.h"
#include "decoder_context.h"
#include "kernels.h"

namespace plumo {
namespace {

using V = KernelVariant;

std::vector<float> Random(size_t n, float scale, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-scale, scale);
  std::vector<float> v(n);
  for (float& x : v) x = d(rng);
  return v;
}

struct alignas(64) Ring {
  RingValue v[kRingStorage];
};

// Vector forms this processor lacks are skipped.
bool Supported(benchmark::State& state, bool has) {
  if (!has) state.SkipWithError("not supported by this processor");
  return has;
}

// The form the decoder's selection runs for a slot whose widest form is `widest`.
const char* SelectedForm(KernelForm widest) { return KernelFormName(std::min(widest, BestKernelForm())); }

void BenchWindow(benchmark::State& state, WindowKernelFn fn, const char* form) {
  if (!Supported(state, (fn != WindowStereoAvx512 || HasAvx512()) && (fn != WindowStereoAvx2 || HasAvx2()))) return;
  state.SetLabel(form);
  Decoder decoder;
  const SynthesisWindow& w = decoder.Context().window;
  Ring ring;
  const std::vector<float> r = Random(kRingSize, 4000.0f, 1);
  std::copy(r.begin(), r.end(), ring.v);
  std::copy(r.begin(), r.end(), ring.v + kRingSize);
  int16_t pcm[64];
  int position = 0;
  for (auto _ : state) {
    fn(w, ring.v, position, pcm);
    position = (position - 32) & (kRingSize - 1);
    benchmark::DoNotOptimize(pcm);
  }
  state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK_CAPTURE(BenchWindow, x87_selected, KernelsFor({}).window_kernel_stereo, SelectedForm(KernelForm::kAvx512));
BENCHMARK_CAPTURE(BenchWindow, x87_scalar, WindowStereoPentium, "scalar");
BENCHMARK_CAPTURE(BenchWindow, x87_avx2, WindowStereoAvx2, "AVX2");
BENCHMARK_CAPTURE(BenchWindow, x87_avx512, WindowStereoAvx512, "AVX-512");
BENCHMARK_CAPTURE(BenchWindow, enhanced_3dnow, WindowStereoE3DNow, "single precision, scalar");
BENCHMARK_CAPTURE(BenchWindow, plain_3dnow, WindowStereo3DNow, "single precision, scalar");

void BenchMatrix(benchmark::State& state, Matrix32Fn fn, const char* form) {
  if (!Supported(state, (fn != Matrix32Avx512 || HasAvx512()) && (fn != Matrix32Avx2 || HasAvx2()))) return;
  state.SetLabel(form);
  const std::vector<float> s = Random(32, 4000.0f, 2);
  Ring ring;
  int position = 0;
  for (auto _ : state) {
    fn(s.data(), 1, ring.v, position);
    position = (position - 32) & (kRingSize - 1);
    benchmark::DoNotOptimize(ring.v);
  }
}
BENCHMARK_CAPTURE(BenchMatrix, selected, KernelsFor({}).matrix_kernel, SelectedForm(KernelForm::kAvx512));
BENCHMARK_CAPTURE(BenchMatrix, scalar, Matrix32Scalar, "scalar");
BENCHMARK_CAPTURE(BenchMatrix, avx2, Matrix32Avx2, "AVX2");
BENCHMARK_CAPTURE(BenchMatrix, avx512, Matrix32Avx512, "AVX-512");

// One long-block granule of one channel with all 32 sub-bands in use.
void BenchHybrid(benchmark::State& state, HybridKernelFn fn, const char* form) {
  if (!Supported(state, (fn != HybridAvx512 || HasAvx512()) && (fn != HybridAvx2 || HasAvx2()))) return;
  state.SetLabel(form);
  const std::vector<float> lines = Random(576, 3000.0f, 3);
  std::vector<float> work(576), previous = Random(576, 3000.0f, 4), out(576);
  for (auto _ : state) {
    std::copy(lines.begin(), lines.end(), work.begin());
    benchmark::DoNotOptimize(fn(work.data(), previous.data(), out.data(), 0, false, 576, 576, 576, 32));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK_CAPTURE(BenchHybrid, x87_selected, KernelsFor({}).hybrid_kernel, SelectedForm(KernelForm::kAvx512));
BENCHMARK_CAPTURE(BenchHybrid, x87_scalar, HybridPentium, "scalar");
BENCHMARK_CAPTURE(BenchHybrid, x87_avx2, HybridAvx2, "AVX2");
BENCHMARK_CAPTURE(BenchHybrid, x87_avx512, HybridAvx512, "AVX-512");
BENCHMARK_CAPTURE(BenchHybrid, enhanced_3dnow, HybridE3DNow, "single precision, scalar");

void BenchLongTransform(benchmark::State& state, TransformFn fn, const char* form) {
  state.SetLabel(form);
  const std::vector<float> lines = Random(18, 3000.0f, 5);
  std::vector<float> x(18);
  for (auto _ : state) {
    std::copy(lines.begin(), lines.end(), x.begin());
    fn(x.data());
    benchmark::DoNotOptimize(x.data());
  }
}
BENCHMARK_CAPTURE(BenchLongTransform, x87_selected, KernelsFor({}).long_transform_kernel, SelectedForm(KernelForm::kAvx2));
BENCHMARK_CAPTURE(BenchLongTransform, x87_scalar, LongTransformPentium, "scalar");
BENCHMARK_CAPTURE(BenchLongTransform, enhanced_3dnow, LongTransformE3DNow, "single precision, scalar");

}  // namespace
}  // namespace plumo
