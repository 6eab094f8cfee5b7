// Processor detection, the capability mapping and the kernel selection rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "cpu.h"
#include "decoder.h"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace plumo {
namespace {

using namespace cpu_flags;
using V = KernelVariant;

// Vendor words (the ECX part of CPUID 0) of the vendor strings.
constexpr uint32_t kIntelEcx = 0x6c65746e;    // "ntel"
constexpr uint32_t kAmdEcx = 0x444d4163;      // "cAMD"
constexpr uint32_t kCyrixEcx = 0x64616574;    // "tead"
constexpr uint32_t kCentaurEcx = 0x736c7561;  // "auls"

constexpr uint32_t kEdxMmx = 1u << 23, kEdxSse = 1u << 25, kEdxCmov = 1u << 15;
constexpr uint32_t kExt3DNow = 1u << 31, kExtE3DNow = 1u << 30, kExtEmmx = 1u << 22, kExtCmov = 1u << 15;

// EAX of CPUID 1 for a family (stepping 1, model 2).
constexpr uint32_t Family(uint32_t family) { return (family << 8) | 0x21; }

TEST(CpuFlagsFromCpuid, AnAmdWithEvery3DNowFeature) {
  const CpuidRegisters athlon{kAmdEcx, Family(6), kEdxMmx | kEdxCmov, kExt3DNow | kExtE3DNow | kExtEmmx | kExtCmov};
  EXPECT_EQ(CpuFlagsFromCpuid(athlon), kFpu | kAmd | kFamily6OrOther | k3DNow | kE3DNow | kEmmx | kCmov | kMmx);
}

TEST(CpuFlagsFromCpuid, AnIntelFamily6WithSse) {
  const CpuidRegisters p3{kIntelEcx, Family(6), kEdxMmx | kEdxCmov | kEdxSse, 0};
  EXPECT_EQ(CpuFlagsFromCpuid(p3), kFpu | kIntel | kFamily6OrOther | kMmx | kCmov | kSse | kEmmx);
  // An operating system that faults on the SSE control register keeps extended MMX, not SSE.
  EXPECT_EQ(CpuFlagsFromCpuid(p3, false), kFpu | kIntel | kFamily6OrOther | kMmx | kCmov | kEmmx);
}

TEST(CpuFlagsFromCpuid, AFamily4ProcessorReportsNoFeatures) {
  const CpuidRegisters i486{kIntelEcx, Family(4), kEdxMmx | kEdxCmov | kEdxSse, kExt3DNow | kExtCmov};
  EXPECT_EQ(CpuFlagsFromCpuid(i486), kFpu | kIntel | kFamily4);
}

TEST(CpuFlagsFromCpuid, Family5AndTheOtherFamilies) {
  EXPECT_EQ(CpuFlagsFromCpuid({kIntelEcx, Family(5), kEdxMmx, 0}), kFpu | kIntel | kFamily5 | kMmx);
  // An extended family (base family 0xF) and a non-zero processor type count as "other".
  EXPECT_EQ(CpuFlagsFromCpuid({kAmdEcx, Family(0xF), 0, 0}), kFpu | kAmd | kFamily6OrOther);
  EXPECT_EQ(CpuFlagsFromCpuid({kIntelEcx, (1u << 12) | Family(5), 0, 0}), kFpu | kIntel | kFamily6OrOther);
}

TEST(CpuFlagsFromCpuid, VendorsByTheLastFourCharacters) {
  EXPECT_EQ(CpuFlagsFromCpuid({kCyrixEcx, Family(5), 0, 0}) & 0xFF00, kCyrix);
  EXPECT_EQ(CpuFlagsFromCpuid({kCentaurEcx, Family(5), 0, 0}) & 0xFF00, kCentaur);
  EXPECT_EQ(CpuFlagsFromCpuid({0x20202020, Family(5), 0, 0}) & 0xFF00, kOtherVendor);
}

TEST(CpuFlagsFromCpuid, ConditionalMovesFromEitherFunction) {
  EXPECT_TRUE(CpuFlagsFromCpuid({kAmdEcx, Family(6), 0, kExtCmov}) & kCmov);
  EXPECT_TRUE(CpuFlagsFromCpuid({kIntelEcx, Family(6), kEdxCmov, 0}) & kCmov);
  EXPECT_FALSE(CpuFlagsFromCpuid({kIntelEcx, Family(6), kEdxMmx, 0}) & kCmov);
}

// The fields of /proc/cpuinfo's first processor.
struct CpuInfo {
  std::string vendor;
  int family = -1;
  std::set<std::string> flags;
};

CpuInfo ReadCpuInfo() {
  std::ifstream in("/proc/cpuinfo");
  CpuInfo info;
  std::string line;
  while (std::getline(in, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
      if (!info.vendor.empty()) break;  // end of the first processor
      continue;
    }
    std::string key = line.substr(0, colon);
    key.erase(key.find_last_not_of(" \t") + 1);
    const std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
    if (key == "vendor_id") info.vendor = value;
    if (key == "cpu family") info.family = std::stoi(value);
    if (key == "flags") {
      std::istringstream words(value);
      for (std::string w; words >> w;) info.flags.insert(w);
    }
  }
  return info;
}

TEST(DetectCpu, MatchesProcCpuinfo) {
#if !(defined(__x86_64__) || defined(__i386__))
  GTEST_SKIP() << "no CPUID on this architecture";
#endif
  const CpuInfo info = ReadCpuInfo();
  if (info.vendor.empty() || info.flags.empty()) GTEST_SKIP() << "no /proc/cpuinfo";
  const uint32_t flags = DetectCpu();
  EXPECT_EQ(DetectCpu(), flags) << "the word is stored";
  EXPECT_TRUE(flags & kFpu);

  const uint32_t vendor = info.vendor == "GenuineIntel"   ? kIntel
                          : info.vendor == "AuthenticAMD" ? kAmd
                          : info.vendor == "CyrixInstead" ? kCyrix
                          : info.vendor == "CentaurHauls" ? kCentaur
                                                          : kOtherVendor;
  EXPECT_EQ(flags & 0xFF00, vendor) << info.vendor;
  // cpuinfo shows base plus extended family; any family above 6 has the base family 0xF.
  const uint32_t family = info.family == 4 ? kFamily4 : info.family == 5 ? kFamily5 : kFamily6OrOther;
  EXPECT_EQ(flags & 0x700000, family) << info.family;
  if (info.family == 4) return;

  auto has = [&](const char* f) { return info.flags.count(f) != 0; };
  EXPECT_EQ((flags & kMmx) != 0, has("mmx"));
  EXPECT_EQ((flags & kSse) != 0, has("sse"));
  EXPECT_EQ((flags & kCmov) != 0, has("cmov"));
  EXPECT_EQ((flags & k3DNow) != 0, has("3dnow"));
  EXPECT_EQ((flags & kE3DNow) != 0, has("3dnowext"));
  EXPECT_EQ((flags & kEmmx) != 0, has("mmxext") || has("sse"));
}

TEST(Capabilities, MapToTheirCpuFlagBits) {
  // Ordinals mccMMX 0, mcc3DNow 1, mccKNI 2, mccE3DNow 3, mccCMOV 4, mccEMMX 5.
  const uint32_t bits[6] = {kMmx, k3DNow, kSse, kE3DNow, kCmov, kEmmx};
  for (int i = 0; i < 6; ++i) {
    const uint8_t set = static_cast<uint8_t>(1u << i);
    EXPECT_EQ(CpuFlagsFromCapabilities(set), bits[i]) << i;
    EXPECT_EQ(CapabilitiesFromCpuFlags(bits[i]), set) << i;
  }
  EXPECT_EQ(CpuFlagsFromCapabilities(0x3F), kCapabilityBits);
  EXPECT_EQ(CapabilitiesFromCpuFlags(0xFFFFFFFFu), 0x3F);
  EXPECT_EQ(CapabilitiesFromCpuFlags(kFpu | kAmd | kFamily6OrOther), 0);
  EXPECT_EQ(CpuFlagsFromCapabilities(0xC0), 0u) << "bits beyond the six ordinals mean nothing";
}

// The word the player selects with: the probe's vendor and family, the user's feature set.
uint32_t PlayerFlags(uint32_t detected, uint8_t using_capabilities) {
  return (detected & ~kCapabilityBits) | CpuFlagsFromCapabilities(using_capabilities & CapabilitiesFromCpuFlags(detected));
}

struct SelectionRow {
  const char* name;
  uint32_t flags;
  KernelChoice want;  // alias, hybrid, long, short, window mono, window stereo
};

KernelChoice Choice(V alias, V hybrid, V transforms, V window) { return {alias, hybrid, transforms, transforms, window, window}; }

class Selection : public testing::TestWithParam<SelectionRow> {};

TEST_P(Selection, FollowsTheRules) {
  const SelectionRow& row = GetParam();
  const KernelChoice got = ChooseKernels(row.flags);
  EXPECT_EQ(got.alias_reduction, row.want.alias_reduction) << KernelVariantName(got.alias_reduction);
  EXPECT_EQ(got.hybrid, row.want.hybrid) << KernelVariantName(got.hybrid);
  EXPECT_EQ(got.long_transform, row.want.long_transform) << KernelVariantName(got.long_transform);
  EXPECT_EQ(got.short_transform, row.want.short_transform) << KernelVariantName(got.short_transform);
  EXPECT_EQ(got.window_mono, row.want.window_mono) << KernelVariantName(got.window_mono);
  EXPECT_EQ(got.window_stereo, row.want.window_stereo) << KernelVariantName(got.window_stereo);
  // A decoder reports what its slots got: the rows' choice for the selection flags.
  Decoder d;
  d.SelectKernels(row.flags);
  EXPECT_EQ(d.SelectedKernels(), ChooseKernels(SelectionFlags(row.flags)));
}

constexpr uint32_t kAmdAll = kFpu | kAmd | kFamily6OrOther | kMmx | k3DNow | kE3DNow | kEmmx | kCmov;
constexpr uint32_t kIntel6 = kFpu | kIntel | kFamily6OrOther;

INSTANTIATE_TEST_SUITE_P(
    Rows, Selection,
    testing::Values(
        // An AMD with 3DNow!, enhanced 3DNow!, extended MMX and conditional moves: enhanced everywhere.
        SelectionRow{"AmdAll", kAmdAll, Choice(V::kEnhanced3DNow, V::kEnhanced3DNow, V::kEnhanced3DNow, V::kEnhanced3DNow)},
        // Enhanced 3DNow! without extended MMX: 3DNow! windows; without conditional moves: x87 hybrid.
        SelectionRow{"AmdNoEmmx", kAmdAll & ~kEmmx, Choice(V::kEnhanced3DNow, V::kEnhanced3DNow, V::kEnhanced3DNow, V::k3DNow)},
        SelectionRow{"AmdNoCmov", kAmdAll & ~kCmov, Choice(V::kEnhanced3DNow, V::kX87, V::kEnhanced3DNow, V::kEnhanced3DNow)},
        // Plain 3DNow! (a K6-2): 3DNow! alias reduction and windows, x87 transforms.
        SelectionRow{"K6", kFpu | kAmd | kFamily5 | kMmx | k3DNow, Choice(V::k3DNow, V::kX87, V::kX87, V::k3DNow)},
        // Enhanced 3DNow! without 3DNow! counts as neither.
        SelectionRow{"E3DNowAlone", kAmdAll & ~k3DNow, Choice(V::kX87, V::kX87, V::kX87, V::kX87)},
        // Intel families 5 and 6: Pentium scheduling; conditional-move windows with 0x10.
        SelectionRow{"Pentium", kFpu | kIntel | kFamily5 | kMmx, Choice(V::kX87, V::kPentium, V::kPentium, V::kPentium)},
        SelectionRow{"PentiumPro", kIntel6 | kCmov, Choice(V::kX87, V::kPentium, V::kPentium, V::kCmov)},
        SelectionRow{"IntelFamily6NoFeatures", kIntel6, Choice(V::kX87, V::kPentium, V::kPentium, V::kPentium)},
        // An Intel with 3DNow! bits (impossible, but the rules are ordered): 3DNow! windows first.
        SelectionRow{"Intel3DNow", kIntel6 | k3DNow | kCmov, Choice(V::k3DNow, V::kPentium, V::kPentium, V::k3DNow)},
        // With enhanced 3DNow! on an Intel family 6 the 3DNow! rows still come first; the hybrid
        // kernel needs conditional moves for them and falls to the Pentium row.
        SelectionRow{"IntelEnhanced3DNow", kIntel6 | k3DNow | kE3DNow | kEmmx,
                     Choice(V::kEnhanced3DNow, V::kPentium, V::kEnhanced3DNow, V::kEnhanced3DNow)},
        // Enhanced 3DNow! without 3DNow! on an Intel family 6: the Intel rows.
        SelectionRow{"IntelE3DNowWithout3DNow", kIntel6 | kE3DNow | kEmmx | kCmov,
                     Choice(V::kX87, V::kPentium, V::kPentium, V::kCmov)},
        SelectionRow{"PentiumWithCmov", kFpu | kIntel | kFamily5 | kCmov, Choice(V::kX87, V::kPentium, V::kPentium, V::kCmov)},
        // 3DNow! counts whatever the vendor (a Centaur WinChip 2).
        SelectionRow{"Centaur3DNow", kFpu | kCentaur | kFamily5 | kMmx | k3DNow, Choice(V::k3DNow, V::kX87, V::kX87, V::k3DNow)},
        // A 486 (even one claiming conditional moves) and processors of other vendors: x87.
        SelectionRow{"Intel486Cmov", kFpu | kIntel | kFamily4 | kCmov, Choice(V::kX87, V::kX87, V::kX87, V::kX87)},
        SelectionRow{"Intel486", kFpu | kIntel | kFamily4, Choice(V::kX87, V::kX87, V::kX87, V::kX87)},
        SelectionRow{"Cyrix", kFpu | kCyrix | kFamily6OrOther | kMmx | kCmov, Choice(V::kX87, V::kX87, V::kX87, V::kX87)},
        SelectionRow{"ModernAmd", kFpu | kAmd | kFamily6OrOther | kMmx | kSse | kEmmx | kCmov,
                     Choice(V::kX87, V::kX87, V::kX87, V::kX87)},
        SelectionRow{"Nothing", 0, Choice(V::kX87, V::kX87, V::kX87, V::kX87)}),
    [](const testing::TestParamInfo<SelectionRow>& i) { return std::string(i.param.name); });

TEST(Selection, TheUserSetOnlyControlsFeatureBits) {
  // An Intel family 6 gets the Pentium kernels even with an empty set; conditional-move windows
  // only while mccCMOV (ordinal 4) is in the set.
  const uint32_t p3 = kIntel6 | kMmx | kCmov | kSse | kEmmx;
  EXPECT_EQ(ChooseKernels(PlayerFlags(p3, 0)), Choice(V::kX87, V::kPentium, V::kPentium, V::kPentium));
  EXPECT_EQ(ChooseKernels(PlayerFlags(p3, 1u << 4)), Choice(V::kX87, V::kPentium, V::kPentium, V::kCmov));
  // A set with mccE3DNow (3) but without mcc3DNow (1) behaves as neither on an AMD with both.
  EXPECT_EQ(ChooseKernels(PlayerFlags(kAmdAll, (1u << 3) | (1u << 4) | (1u << 5))),
            Choice(V::kX87, V::kX87, V::kX87, V::kX87));
  EXPECT_EQ(ChooseKernels(PlayerFlags(kAmdAll, 0x3F)),
            Choice(V::kEnhanced3DNow, V::kEnhanced3DNow, V::kEnhanced3DNow, V::kEnhanced3DNow));
  // A capability the processor lacks is not used.
  EXPECT_EQ(PlayerFlags(kIntel6, 0x3F), kIntel6);
}

TEST(Selection, TheProcessDecoderAndNewDecodersFollowTheProbe) {
  Decoder d;
  EXPECT_EQ(d.SelectedKernels(), ChooseKernels(SelectionFlags(DetectCpu())));
  SelectKernels(kAmdAll);
  EXPECT_EQ(ProcessDecoder().SelectedKernels(), ChooseKernels(SelectionFlags(kAmdAll)));
  SelectKernels(DetectCpu());
  EXPECT_EQ(ProcessDecoder().SelectedKernels(), ChooseKernels(SelectionFlags(DetectCpu())));
  // Asked for by name, the 3DNow! variants are there on every processor.
  d.SelectKernelSet(ChooseKernels(kAmdAll), KernelForm::kScalar);
  EXPECT_EQ(d.SelectedKernels(), Choice(V::kEnhanced3DNow, V::kEnhanced3DNow, V::kEnhanced3DNow, V::kEnhanced3DNow));
}

// On x86-64 the selection never takes the single-precision variants: every such processor has
// the exact forms, and all of them then give the same PCM.
TEST(Selection, X86_64ProcessorsReporting3DNowGetExactKernels) {
#if defined(__x86_64__)
  for (uint32_t flags : {kAmdAll, kFpu | kAmd | kFamily5 | kMmx | k3DNow, kIntel6 | k3DNow | kE3DNow | kEmmx}) {
    Decoder d;
    d.SelectKernels(flags);
    const KernelChoice c = d.SelectedKernels();
    for (V v : {c.alias_reduction, c.hybrid, c.long_transform, c.short_transform, c.window_mono, c.window_stereo})
      EXPECT_TRUE(v != V::k3DNow && v != V::kEnhanced3DNow) << flags << " " << KernelVariantName(v);
    EXPECT_EQ(d.KernelReport().rfind("exact", 0), 0u) << d.KernelReport();
  }
#else
  GTEST_SKIP() << "not an x86-64 build";
#endif
}

// The probe leaves the calling thread's floating-point control state as it was. It runs once per
// process, so the check runs in a fresh one.
#if defined(__x86_64__) || defined(__i386__)
bool FirstProbeKeepsTheControlState() {
  const unsigned mxcsr = _mm_getcsr();
  uint16_t before = 0;
  uint16_t after = 0;
  asm volatile("fnstcw %0" : "=m"(before));
  DetectCpu();
  asm volatile("fnstcw %0" : "=m"(after));
  return _mm_getcsr() == mxcsr && after == before;
}
#endif

TEST(DetectCpuDeathTest, LeavesTheFloatingPointControlStateAlone) {
#if defined(__x86_64__) || defined(__i386__)
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(FirstProbeKeepsTheControlState() ? 0 : 1), testing::ExitedWithCode(0), "");
#else
  GTEST_SKIP() << "no x86 control registers";
#endif
}

TEST(Selection, VariantsHaveNames) {
  std::set<std::string> names;
  for (V v : {V::kX87, V::kPentium, V::kCmov, V::k3DNow, V::kEnhanced3DNow}) names.insert(KernelVariantName(v));
  EXPECT_EQ(names.size(), 5u);
}

}  // namespace
}  // namespace plumo
