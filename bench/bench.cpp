// Measures a whole conversion against the I/O floor: makes a large package of realistic
// textures, then in turn converts it with the program and copies it with cat, five times
// each, and prints medians, throughput, the paired ratio and the program's peak memory.
//   build/bench/wad3-bench [--program build/wad3] [--runs 5] [--dir /tmp] MB...
//   build/bench/wad3-bench --make PACKAGE MB     (only writes the package, for profiling)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "wadpack.h"

namespace {

namespace fs = std::filesystem;
using wadpack::Bytes;
using wadpack::Texture;

// Texture sizes as real packages mix them, from wall details to sky panels.
constexpr uint32_t kSizes[][2] = {{64, 64},   {128, 128}, {256, 128}, {256, 256},
                                  {512, 256}, {512, 512}, {1024, 512}};

struct Package {
  fs::path path;
  uint64_t bytes = 0;
  uint64_t largestTexture = 0;  // pixels and palette of the largest texture
};

// Half the textures are noise, which barely compresses; half are bands with long runs.
Texture MakeTexture(unsigned index, unsigned& seed) {
  const auto& size = kSizes[index * 5 % std::size(kSizes)];
  Texture t;
  t.name = "tex" + std::to_string(index);
  t.width = size[0];
  t.height = size[1];
  t.pixels.resize(size_t{t.width} * t.height);
  for (size_t i = 0; i < t.pixels.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    const size_t y = i / t.width;
    t.pixels[i] = index % 2 ? uint8_t(seed >> 16) : uint8_t(y / 8 * 37 + (seed >> 28 == 0));
  }
  for (unsigned i = 0; i < 256 * 3; ++i) t.palette.push_back(uint8_t(i * 7 + index));
  return t;
}

// Writes textures until the package reaches `megabytes`, then the directory.
Package MakePackage(const fs::path& path, uint64_t megabytes) {
  Package p{path};
  std::ofstream out(path, std::ios::binary);
  Bytes head = {'W', 'A', 'D', '3', 0, 0, 0, 0, 0, 0, 0, 0}, directory;
  out.write(reinterpret_cast<const char*>(head.data()), 12);
  uint64_t position = 12;
  unsigned count = 0, seed = 1;
  while (position < megabytes << 20) {
    const Texture t = MakeTexture(count, seed);
    Bytes lump;
    wadpack::PutTexture(lump, t);
    out.write(reinterpret_cast<const char*>(lump.data()), std::streamsize(lump.size()));
    wadpack::Put32(directory, uint32_t(position));
    wadpack::Put32(directory, uint32_t(lump.size()));
    wadpack::Put32(directory, uint32_t(lump.size()));
    directory.insert(directory.end(), {'C', 0, 0, 0});
    wadpack::PutName(directory, t.name);
    p.largestTexture = std::max<uint64_t>(p.largestTexture, t.pixels.size() + t.palette.size());
    position += lump.size();
    ++count;
  }
  out.write(reinterpret_cast<const char*>(directory.data()), std::streamsize(directory.size()));
  wadpack::Set32(head, 4, count);
  wadpack::Set32(head, 8, uint32_t(position));
  out.seekp(0);
  out.write(reinterpret_cast<const char*>(head.data()), 12);
  p.bytes = position + directory.size();
  return p;
}

struct Timing {
  double seconds;
  long peakKiB;
};

// Runs argv in cwd with stdout to /dev/null; wall time and peak resident memory.
Timing Time(const std::vector<std::string>& args, const fs::path& cwd) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (chdir(cwd.c_str()) == 0 && freopen("/dev/null", "w", stdout)) execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "failed: %s\n", args[0].c_str());
    exit(1);
  }
  return {elapsed.count(), usage.ru_maxrss};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path program = fs::absolute("build/wad3"), dir = fs::temp_directory_path();
  int runs = 5;
  std::vector<uint64_t> sizes;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--program" && i + 1 < argc)
      program = fs::absolute(argv[++i]);
    else if (arg == "--runs" && i + 1 < argc)
      runs = std::max(1, atoi(argv[++i]));
    else if (arg == "--dir" && i + 1 < argc)
      dir = argv[++i];
    else if (arg == "--make" && i + 2 < argc)
      return MakePackage(argv[i + 1], uint64_t(atoi(argv[i + 2]))).bytes == 0;
    else if (atoi(argv[i]) > 0)
      sizes.push_back(uint64_t(atoi(argv[i])));
    else {
      fputs(
          "usage: wad3-bench [--program PATH] [--runs N] [--dir DIR] MB...\n"
          "       wad3-bench --make PACKAGE MB\n",
          stderr);
      return 2;
    }
  }
  if (sizes.empty()) sizes = {64, 256};
  std::string pattern = (dir / "wad3-bench-XXXXXX").string();
  const fs::path root = mkdtemp(pattern.data());

  printf("%-8s %10s %10s %9s %9s %10s %10s %12s %12s\n", "package", "wad3 s", "cat s", "wad3 MB/s",
         "cat MB/s", "wad3/cat", "s per GB", "peak MiB", "texture MiB");
  fflush(stdout);  // before fork, or every child repeats what is buffered
  for (const uint64_t megabytes : sizes) {
    const Package package = MakePackage(root / "package.wad", megabytes);
    const fs::path out = root / "out";
    std::vector<double> wad3, cat, ratios;
    long peakKiB = 0;
    for (int run = 0; run < runs; ++run) {
      fs::remove_all(out);
      fs::create_directory(out);
      const Timing w = Time({program.string(), package.path.string()}, out);
      const std::string copy =
          "cat '" + package.path.string() + "' > '" + (root / "copy").string() + "'";
      const Timing c = Time({"sh", "-c", copy}, root);
      wad3.push_back(w.seconds);
      cat.push_back(c.seconds);
      ratios.push_back(w.seconds / c.seconds);
      peakKiB = std::max(peakKiB, w.peakKiB);
    }
    const double mb = double(package.bytes) / (1 << 20);
    printf("%5.0f MB %10.3f %10.3f %9.0f %9.0f %10.2f %10.2f %12.1f %12.1f\n", mb, Median(wad3),
           Median(cat), mb / Median(wad3), mb / Median(cat), Median(ratios),
           Median(wad3) * 1024 / mb, double(peakKiB) / 1024,
           double(package.largestTexture) / (1 << 20));
    fflush(stdout);
  }
  fs::remove_all(root);
  return 0;
}
