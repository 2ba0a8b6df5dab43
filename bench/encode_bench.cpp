// EncodePCX alone, on a noisy and on a banded 1024x512 image, in MB of pixels per second.
// The files go to /dev/null; the encoder's own lines are silenced, the results go to stderr.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>
#include <vector>

#include "pcx.h"

namespace {

constexpr uint32_t kWidth = 1024, kHeight = 512;

std::vector<uint8_t> Image(bool noisy) {
  std::vector<uint8_t> pixels(size_t{kWidth} * kHeight);
  unsigned seed = 1;
  for (size_t i = 0; i < pixels.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    pixels[i] = noisy ? uint8_t(seed >> 16) : uint8_t(i / kWidth / 8 * 37);
  }
  return pixels;
}

void Encode(benchmark::State& state, bool noisy) {
  const std::vector<uint8_t> pixels = Image(noisy), palette(768, 0x55);
  const PCXENCODE image = {"/dev/null", pixels.data(), kWidth, kHeight, palette.data(), 256};
  for (auto _ : state) benchmark::DoNotOptimize(EncodePCX(&image));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pixels.size()));
}

BENCHMARK_CAPTURE(Encode, noisy, true);
BENCHMARK_CAPTURE(Encode, banded, false);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (freopen("/dev/null", "w", stdout) == nullptr) return 1;
  benchmark::ConsoleReporter reporter;
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  return 0;
}
