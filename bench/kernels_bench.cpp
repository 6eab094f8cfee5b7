// Microbenchmarks of the synthesis and hybrid filterbank kernels, per variant. The whole-program
// comparison with mpg123 and ffmpeg is decode_speed.sh; these show where a kernel change moves.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

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

void BenchWindow(benchmark::State& state, WindowKernelFn fn) {
  if (!Supported(state, fn != WindowStereoAvx512 || HasAvx512())) return;
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
BENCHMARK_CAPTURE(BenchWindow, x87_selected, KernelsFor({}).window_kernel_stereo);
BENCHMARK_CAPTURE(BenchWindow, x87_scalar, WindowStereoPentium);
BENCHMARK_CAPTURE(BenchWindow, x87_avx2, WindowStereoAvx2);
BENCHMARK_CAPTURE(BenchWindow, x87_avx512, WindowStereoAvx512);
BENCHMARK_CAPTURE(BenchWindow, enhanced_3dnow, WindowStereoE3DNow);
BENCHMARK_CAPTURE(BenchWindow, plain_3dnow, WindowStereo3DNow);

void BenchMatrix(benchmark::State& state, Matrix32Fn fn) {
  if (!Supported(state, fn != Matrix32Avx512 || HasAvx512())) return;
  const std::vector<float> s = Random(32, 4000.0f, 2);
  Ring ring;
  int position = 0;
  for (auto _ : state) {
    fn(s.data(), 1, ring.v, position);
    position = (position - 32) & (kRingSize - 1);
    benchmark::DoNotOptimize(ring.v);
  }
}
BENCHMARK_CAPTURE(BenchMatrix, selected, Matrix32Kernel());
BENCHMARK_CAPTURE(BenchMatrix, scalar, Matrix32Scalar);
BENCHMARK_CAPTURE(BenchMatrix, avx2, Matrix32Avx2);
BENCHMARK_CAPTURE(BenchMatrix, avx512, Matrix32Avx512);

// One long-block granule of one channel with all 31 sub-bands in use.
void BenchHybrid(benchmark::State& state, HybridKernelFn fn) {
  if (!Supported(state, fn != HybridAvx512 || HasAvx512())) return;
  const std::vector<float> lines = Random(576, 3000.0f, 3);
  std::vector<float> work(576), previous = Random(576, 3000.0f, 4), out(576);
  for (auto _ : state) {
    std::copy(lines.begin(), lines.end(), work.begin());
    benchmark::DoNotOptimize(fn(work.data(), previous.data(), out.data(), 0, false, 558, 558, 558, 31));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 31);
}
BENCHMARK_CAPTURE(BenchHybrid, x87_selected, KernelsFor({}).hybrid_kernel);
BENCHMARK_CAPTURE(BenchHybrid, x87_scalar, HybridPentium);
BENCHMARK_CAPTURE(BenchHybrid, x87_avx2, HybridAvx2);
BENCHMARK_CAPTURE(BenchHybrid, x87_avx512, HybridAvx512);
BENCHMARK_CAPTURE(BenchHybrid, enhanced_3dnow, HybridE3DNow);

void BenchLongTransform(benchmark::State& state, TransformFn fn) {
  const std::vector<float> lines = Random(18, 3000.0f, 5);
  std::vector<float> x(18);
  for (auto _ : state) {
    std::copy(lines.begin(), lines.end(), x.begin());
    fn(x.data());
    benchmark::DoNotOptimize(x.data());
  }
}
BENCHMARK_CAPTURE(BenchLongTransform, x87_selected, KernelsFor({}).long_transform_kernel);
BENCHMARK_CAPTURE(BenchLongTransform, x87_scalar, LongTransformPentium);
BENCHMARK_CAPTURE(BenchLongTransform, enhanced_3dnow, LongTransformE3DNow);

}  // namespace
}  // namespace plumo
