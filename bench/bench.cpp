// Measures a whole conversion against two floors: makes a large package of made-up textures,
// or of every texture of the WAD3 packages under a folder (--from), repeated and renamed
// until it reaches the size asked for, then in turn converts it with the program, copies it
// one byte per stream call
// (the design's floor: one getc_unlocked and one putc_unlocked per byte through 64 KiB
// buffers) and copies it with cat, five times each. Every run writes into a fresh folder
// or file after a sync, as users convert each package into a folder of its own: on ext4
// overwriting makes each truncated file flush at close. Nothing is deleted until all the
// timing is done. Prints medians of wall and user time, the paired ratios and peak memory.
// With --png, each program is timed with --png too, and so is a Python script that writes the
// same pictures as PNG files with Pillow at its defaults (the yardstick for PNG files).
//   build/bench/wad3-bench [--program build/wad3]... [--runs 5] [--dir /tmp] [--from DIR] [--png] MB...
//   build/bench/wad3-bench [--from DIR] --make PACKAGE MB   (only writes the package)
//   build/bench/wad3-bench --copy FROM TO        (only the per-byte copy)
#include <malloc.h>
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

#include "textures.h"
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

// The index-th texture: made up, or the next of the real ones, renamed so that no two share
// a file name.
Texture NextTexture(unsigned index, unsigned& seed, const std::vector<Texture>& real) {
  if (real.empty()) return MakeTexture(index, seed);
  Texture t = real[index % real.size()];
  const std::string suffix = "~" + std::to_string(index);
  t.name = t.name.substr(0, 15 - suffix.size()) + suffix;
  return t;
}

// Writes textures until the package reaches `megabytes`, then the directory.
Package MakePackage(const fs::path& path, uint64_t megabytes, const std::vector<Texture>& real) {
  Package p{path};
  std::ofstream out(path, std::ios::binary);
  Bytes head = {'W', 'A', 'D', '3', 0, 0, 0, 0, 0, 0, 0, 0}, directory;
  out.write(reinterpret_cast<const char*>(head.data()), 12);
  uint64_t position = 12;
  unsigned count = 0, seed = 1;
  while (position < megabytes << 20) {
    const Texture t = NextTexture(count, seed, real);
    Bytes lump;
    wadpack::PutTexture(lump, t);
    out.write(reinterpret_cast<const char*>(lump.data()), std::streamsize(lump.size()));
    wadpack::PutEntry(directory, uint32_t(position), uint32_t(lump.size()), t.type, t.name);
    p.largestTexture = std::max<uint64_t>(p.largestTexture, t.pixels.size() + t.palette.size());
    position += lump.size();
    ++count;
  }
  out.write(reinterpret_cast<const char*>(directory.data()), std::streamsize(directory.size()));
  wadpack::Set32(head, wadpack::kCountField, count);
  wadpack::Set32(head, wadpack::kDirectoryField, uint32_t(position));
  out.seekp(0);
  out.write(reinterpret_cast<const char*>(head.data()), 12);
  p.bytes = position + directory.size();
  return p;
}

struct Timing {
  double wall, user;  // seconds
  long peakKiB;
};

// Syncs, then runs argv in cwd with stdout to /dev/null; wall and user time, peak memory.
Timing Time(const std::vector<std::string>& args, const fs::path& cwd) {
  sync();  // earlier runs' dirty pages are written back before the clock starts
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
  const double user = double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6;
  return {elapsed.count(), user, usage.ru_maxrss};
}

// The floor of the program's design: every byte through one stream call each way.
int CopyBytes(const char* from, const char* to) {
  constexpr size_t kBuffer = 1 << 16;
  static char in[kBuffer], out[kBuffer];
  FILE* source = fopen(from, "rb");
  FILE* target = fopen(to, "w");
  if (source == nullptr || target == nullptr) return 1;
  setvbuf(source, in, _IOFBF, kBuffer);
  setvbuf(target, out, _IOFBF, kBuffer);
  for (int c; (c = getc_unlocked(source)) != EOF;) putc_unlocked(c, target);
  const bool failed = ferror(source) || ferror(target);
  fclose(source);
  return fclose(target) != 0 || failed;
}

// Every texture of the package argv[1] as NAME.png, written by Pillow at its defaults: a palette,
// entry 255 transparent where the name begins with {.
constexpr char kPillowScript[] = R"(import struct, sys
from PIL import Image
data = open(sys.argv[1], 'rb').read()
_, count, directory = struct.unpack_from('<4sII', data, 0)
for k in range(count):
    at, _, _, kind = struct.unpack_from('<IIIB', data, directory + 32 * k)
    if kind != 0x43:
        continue
    name, width, height, offset = struct.unpack_from('<16sIII', data, at)
    pixels = width * height
    palette = at + 40 + pixels + pixels // 4 + pixels // 16 + pixels // 64
    entries = struct.unpack_from('<H', data, palette)[0]
    image = Image.frombytes('P', (width, height), data[at + offset:at + offset + pixels])
    image.putpalette(data[palette + 2:palette + 2 + 3 * min(entries, 256)])
    name = name.split(b'\0')[0].decode('latin-1')
    options = {'transparency': bytes(255 * [255]) + b'\0'} if name.startswith('{') else {}
    image.save(name + '.png', **options)
)";

// A command timed on each package, which is put after its words.
struct Command {
  std::string label;
  std::vector<std::string> words;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> programs;
  fs::path dir = fs::temp_directory_path();
  int runs = 5;
  bool png = false;
  std::vector<uint64_t> sizes;
  std::vector<Texture> real;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--program" && i + 1 < argc)
      programs.push_back(argv[++i]);
    else if (arg == "--png")
      png = true;
    else if (arg == "--runs" && i + 1 < argc)
      runs = std::max(1, atoi(argv[++i]));
    else if (arg == "--dir" && i + 1 < argc)
      dir = argv[++i];
    else if (arg == "--from" && i + 1 < argc) {
      real = textures::Load(argv[++i]);
      if (real.empty()) {
        fprintf(stderr, "no WAD3 textures under %s\n", argv[i]);
        return 2;
      }
    } else if (arg == "--make" && i + 2 < argc)
      return MakePackage(argv[i + 1], uint64_t(atoi(argv[i + 2])), real).bytes == 0;
    else if (arg == "--copy" && i + 2 < argc)
      return CopyBytes(argv[i + 1], argv[i + 2]);
    else if (atoi(argv[i]) > 0)
      sizes.push_back(uint64_t(atoi(argv[i])));
    else {
      fputs(
          "usage: wad3-bench [--program PATH]... [--runs N] [--dir DIR] [--from DIR] [--png] MB...\n"
          "       wad3-bench [--from DIR] --make PACKAGE MB\n"
          "       wad3-bench --copy FROM TO\n",
          stderr);
      return 2;
    }
  }
  if (programs.empty()) programs = {"build/wad3"};
  std::vector<Command> commands;
  for (const std::string& program : programs) {
    commands.push_back({program, {fs::absolute(program).string()}});
    if (png) commands.push_back({program + " --png", {fs::absolute(program).string(), "--png"}});
  }
  if (png) commands.push_back({"Pillow", {"/usr/bin/python3", "-c", kPillowScript}});
  if (sizes.empty()) sizes = {64, 256};
  const std::string self = fs::canonical("/proc/self/exe").string();
  std::string pattern = (dir / "wad3-bench-XXXXXX").string();
  const fs::path root = mkdtemp(pattern.data());

  if (real.empty()) {
    printf("textures: made up, half noise and half bands\n");
  } else {
    uint64_t pixels = 0;
    for (const Texture& t : real) pixels += t.pixels.size();
    printf("textures: %zu real ones, %.1f MB of pixels, repeated and renamed\n", real.size(),
           double(pixels) / (1 << 20));
  }
  printf("%-8s %-24s %8s %8s %8s %8s %8s %8s %9s %9s %8s %8s %8s\n", "package", "program", "wall s",
         "user s", "copy s", "user s", "cat s", "user s", "user/copy", "wall/cat", "s/GB",
         "peak MiB", "tex MiB");
  // Every package first: a child's peak memory counts what this process held when it forked.
  std::vector<Package> packages;
  for (const uint64_t megabytes : sizes) {
    packages.push_back(
        MakePackage(root / ("package-" + std::to_string(megabytes) + ".wad"), megabytes, real));
  }
  std::vector<Texture>().swap(real);
  malloc_trim(0);
  fflush(stdout);  // before fork, or every child repeats what is buffered
  for (size_t size = 0; size < sizes.size(); ++size) {
    const uint64_t megabytes = sizes[size];
    const Package& package = packages[size];
    const std::string wad = package.path.string();
    std::vector<std::vector<Timing>> converted(commands.size());
    std::vector<Timing> copied, catted;
    for (int run = 0; run < runs; ++run) {
      const std::string tag = std::to_string(megabytes) + "-" + std::to_string(run);
      for (size_t p = 0; p < commands.size(); ++p) {
        const fs::path out = root / ("out-" + tag + "-" + std::to_string(p));
        fs::create_directory(out);
        std::vector<std::string> words = commands[p].words;
        words.push_back(wad);
        converted[p].push_back(Time(words, out));
      }
      copied.push_back(Time({self, "--copy", wad, (root / ("copy-" + tag)).string()}, root));
      const std::string cat = "cat '" + wad + "' > '" + (root / ("cat-" + tag)).string() + "'";
      catted.push_back(Time({"sh", "-c", cat}, root));
    }
    auto median = [](const std::vector<Timing>& ts, auto field) {
      std::vector<double> values;
      for (const Timing& t : ts) values.push_back(field(t));
      return Median(values);
    };
    auto wall = [](const Timing& t) { return t.wall; };
    auto user = [](const Timing& t) { return t.user; };
    const double mb = double(package.bytes) / (1 << 20);
    for (size_t p = 0; p < commands.size(); ++p) {
      std::vector<double> perCopy, perCat;
      long peakKiB = 0;
      for (size_t run = 0; run < copied.size(); ++run) {
        perCopy.push_back(converted[p][run].user / copied[run].user);
        perCat.push_back(converted[p][run].wall / catted[run].wall);
        peakKiB = std::max(peakKiB, converted[p][run].peakKiB);
      }
      printf("%5.0f MB %-24s %8.3f %8.3f %8.3f %8.3f %8.3f %8.3f %9.2f %9.2f %8.2f %8.1f %8.1f\n",
             mb, commands[p].label.c_str(), median(converted[p], wall), median(converted[p], user),
             median(copied, wall), median(copied, user), median(catted, wall), median(catted, user),
             Median(perCopy), Median(perCat), median(converted[p], wall) * 1024 / mb,
             double(peakKiB) / 1024, double(package.largestTexture) / (1 << 20));
    }
    fflush(stdout);
  }
  fs::remove_all(root);  // only now: deleting while timing would add its own write-back
  return 0;
}
