// EncodePCX alone, on a noisy and on a banded 1024x512 image, and with --from DIR on every
// texture of the WAD3 packages under DIR in turn, in MB of pixels per second. The files go
// to /dev/null; the encoder's own lines are silenced, the results go to stderr.
//   build/bench/encode-bench [--from DIR] [Google Benchmark's flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "pcx.h"
#include "textures.h"

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

// Real textures, one after another, as the program meets them.
void EncodeReal(benchmark::State& state, const std::vector<wadpack::Texture>* real) {
  int64_t pixels = 0;
  for (auto _ : state) {
    for (const wadpack::Texture& t : *real) {
      const PCXENCODE image = {"/dev/null", t.pixels.data(),  t.width,
                               t.height,    t.palette.data(), uint32_t(t.palette.size() / 3)};
      benchmark::DoNotOptimize(EncodePCX(&image));
      pixels += int64_t(t.pixels.size());
    }
  }
  state.SetBytesProcessed(pixels);
}

BENCHMARK_CAPTURE(Encode, noisy, true);
BENCHMARK_CAPTURE(Encode, banded, false);

}  // namespace

int main(int argc, char** argv) {
  std::vector<wadpack::Texture> real;
  if (argc > 2 && strcmp(argv[1], "--from") == 0) {
    real = textures::Load(argv[2]);
    if (real.empty()) {
      fprintf(stderr, "no WAD3 textures under %s\n", argv[2]);
      return 2;
    }
    benchmark::RegisterBenchmark("Encode/real", EncodeReal, &real);
    argv[2] = argv[0];
    argc -= 2;
    argv += 2;
  }
  benchmark::Initialize(&argc, argv);
  if (freopen("/dev/null", "w", stdout) == nullptr) return 1;
  benchmark::ConsoleReporter reporter;
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  return 0;
}
