// The program end to end: packages built here, run in a fresh directory, every output checked.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "pcxdecode.h"
#include "scratch.h"
#include "wadpack.h"

namespace {

namespace fs = std::filesystem;
#ifdef _WIN32
constexpr bool kWindows = true;
constexpr const char* kNoInput = "NUL";
#else
constexpr bool kWindows = false;
constexpr const char* kNoInput = "/dev/null";
#endif
using wadpack::Bytes;
using wadpack::Package;
using wadpack::Texture;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// A texture whose pixels and palette differ from every other one made here.
Texture Make(const std::string& name, uint32_t width, uint32_t height, uint32_t entries = 256) {
  Texture t;
  t.name = name;
  t.width = width;
  t.height = height;
  for (size_t i = 0; i < size_t{width} * height; ++i)
    t.pixels.push_back(uint8_t(i % 7 * 37 + name.size()));
  for (size_t i = 0; i < entries * 3; ++i) t.palette.push_back(uint8_t(i + name.size() * 5));
  return t;
}

using pcxdecode::Image;
constexpr size_t kPaletteBytes = pcxdecode::kPaletteBytes;

Image Decode(const Bytes& file) {
  return pcxdecode::Decode(file).value_or(Image{});
}

// What a texture should become: its pixels and its first 256 entries, zero-filled.
Image Expected(const Texture& t, Bytes palette = {}) {
  if (palette.empty()) palette = t.palette;
  palette.resize(kPaletteBytes);
  return {t.width, t.height, t.pixels, palette};
}

struct Result {
  int status = -1;
  std::string out, err;
  std::map<std::string, Bytes> files;  // what the work directory holds afterwards
};

// A file name spelled as the program spelled it: on Windows, in the system's ANSI code page.
std::string NarrowName(const fs::path& name) {
#ifdef _WIN32
  const std::wstring wide = name.wstring();
  const int size = static_cast<int>(wide.size());
  std::string narrow(wide.size() * 4, '\0');
  narrow.resize(static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, wide.data(), size, narrow.data(),
                                                        size * 4, nullptr, nullptr)));
  return narrow;
#else
  return name.string();
#endif
}

// Runs argv in cwd with stdin from `in`, stdout and stderr to the files out and err; its status.
#ifdef _WIN32
int Spawn(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& in,
          const fs::path& out, const fs::path& err, uint64_t /* no limit to set */) {
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  auto open = [&](const fs::path& path, DWORD access, DWORD creation) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                       creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = open(in, GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = open(out, GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = open(err, GENERIC_WRITE, CREATE_ALWAYS);
  std::string line;  // no argument here holds a quote or ends in a backslash
  for (const std::string& arg : args) line += "\"" + arg + "\" ";
  PROCESS_INFORMATION process = {};
  DWORD status = 127;
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, cwd.string().c_str(),
                     &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
    CloseHandle(handle);
  return static_cast<int>(status);
}
#else
int Spawn(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& in,
          const fs::path& out, const fs::path& err, rlim_t memoryLimit) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const rlimit memory = {memoryLimit, memoryLimit};
    if (memoryLimit != 0) setrlimit(RLIMIT_AS, &memory);
    if (chdir(cwd.c_str()) == 0 && freopen(in.c_str(), "r", stdin) &&
        freopen(out.c_str(), "w", stdout) && freopen(err.c_str(), "w", stderr)) {
      execv(argv[0], argv.data());
    }
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

// Runs argv in cwd with stdin from `in`, stdout and stderr to files in `scratch`.
Result Exec(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& in,
            const fs::path& scratch, uint64_t memoryLimit = 0) {
  Result r;
  r.status = Spawn(args, cwd, in, scratch / "out", scratch / "err", memoryLimit);
  const Bytes out = ReadFile(scratch / "out"), err = ReadFile(scratch / "err");
  r.out.assign(out.begin(), out.end());
  r.err.assign(err.begin(), err.end());
  return r;
}

// Two independent PCX readers, each turned into plain RGB bytes.
constexpr const char* kImageMagick = "/usr/bin/convert";
constexpr const char* kNetpbm = "/usr/bin/pcxtoppm";

// They are Linux programs: on Windows, CI compares the files with the Linux program's instead.
bool ReadersRequired() {
  return !kWindows && getenv("CI") != nullptr && std::string(getenv("CI")) == "true";
}
bool ReadersPresent() {
#ifdef _WIN32
  return false;
#else
  return access(kImageMagick, X_OK) == 0 && access(kNetpbm, X_OK) == 0;
#endif
}

Bytes Rgb(const Image& image) {
  Bytes rgb;
  for (const uint8_t i : image.pixels) {
    rgb.insert(rgb.end(), image.palette.begin() + i * 3, image.palette.begin() + i * 3 + 3);
  }
  return rgb;
}

// The pixel bytes of a binary PPM: after "P6", width, height, maxval and one blank.
Bytes PpmPixels(const std::string& ppm) {
  size_t at = 0;
  for (int field = 0; field < 4; ++field) {
    at = ppm.find_first_not_of(" \t\r\n", at);
    at = ppm.find_first_of(" \t\r\n", at);
  }
  return at == std::string::npos ? Bytes{}
                                 : Bytes(ppm.begin() + static_cast<long>(at) + 1, ppm.end());
}

// Both readers must see exactly the colours our own decoding of the file gives.
void ExpectReadersAgree(const fs::path& file, const Image& image, const fs::path& scratch) {
  if (image.width == 0 || image.height == 0) return;  // no reader takes an empty image
  if (!ReadersPresent()) {
    if (ReadersRequired()) ADD_FAILURE() << "ImageMagick and netpbm are needed under CI";
    return;
  }
  const Bytes rgb = Rgb(image);
  const Result magick = Exec({kImageMagick, "pcx:-", "-depth", "8", "rgb:-"}, "/", file, scratch);
  EXPECT_EQ(magick.status, 0) << file << magick.err;
  EXPECT_TRUE(Bytes(magick.out.begin(), magick.out.end()) == rgb) << "ImageMagick: " << file;
  const Result netpbm = Exec({kNetpbm}, "/", file, scratch);
  EXPECT_EQ(netpbm.status, 0) << file << netpbm.err;
  EXPECT_TRUE(PpmPixels(netpbm.out) == rgb) << "netpbm: " << file;
}

class Run : public testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch::MakeFolder("wad3-test-");
    fs::create_directory(work_ = root_ / "work");
  }
  void TearDown() override { fs::remove_all(root_); }

  // Runs the program in the work directory, where the package lies beside it as ../p.wad,
  // and has the independent readers check every image it wrote.
  Result Wad3(const std::vector<std::string>& args) {
    // Absolute with its drive on Windows, for the program started in another folder.
    const std::string program = fs::absolute(WAD3_PROGRAM).string();
#ifdef WAD3_EMULATOR
    std::vector<std::string> argv = {WAD3_EMULATOR, program};
#else
    std::vector<std::string> argv = {program};
#endif
    argv.insert(argv.end(), args.begin(), args.end());
    Result r = Exec(argv, work_, kNoInput, root_, memoryLimit_);
    if (kWindows) {  // every line ends in CR LF there, and then reads as here
      std::string lines, crlf;
      for (const char c : r.out) {
        if (c != '\r') lines += c;
        crlf += c == '\n' ? "\r\n" : c == '\r' ? "" : std::string(1, c);
      }
      EXPECT_EQ(r.out, crlf);
      r.out = lines;
    }
    for (const auto& entry : fs::directory_iterator(work_)) {
      const bool plain = entry.is_regular_file() && !entry.is_symlink();
      Bytes& bytes = r.files[NarrowName(entry.path().filename())];
      bytes = plain ? ReadFile(entry.path()) : Bytes{'?'};
      if (plain) ExpectReadersAgree(entry.path(), Decode(bytes), root_);
    }
    return r;
  }

  Result Convert(const Bytes& package) {
    WriteFile(root_ / "p.wad", package);
    return Wad3({"../p.wad"});
  }

  fs::path root_, work_;
  uint64_t memoryLimit_ = 0;  // the program's address space, when not 0
};

std::string SizeLine(const Bytes& package) {
  return "Filesize : " + std::to_string(package.size()) + "\n";
}

TEST_F(Run, ConvertsEveryTextureAndSkipsOtherLumps) {
  Texture brick = Make("brick", 64, 64), sky = Make("sky", 256, 128), odd = Make("Odd", 5, 3, 16);
  Texture pic = Make("qpic", 4, 4), font = Make("font", 4, 4);
  pic.type = 0x42;
  font.type = 0x46;
  sky.entryName = "not-the-name";
  const Bytes package = Package({brick, pic, sky, font, odd});
  const Result r = Convert(package);
  EXPECT_EQ(r.out,
            SizeLine(package) + "./brick.pcx (64x64)\n./sky.pcx (256x128)\n./Odd.pcx (5x3)\n\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.files.size(), 3u);
  EXPECT_EQ(Decode(r.files.at("brick.pcx")), Expected(brick));
  EXPECT_EQ(Decode(r.files.at("sky.pcx")), Expected(sky));
  EXPECT_EQ(Decode(r.files.at("Odd.pcx")), Expected(odd));

  // The walk stops after numlumps entries, though a further one follows in the file.
  Bytes fewer = package;
  wadpack::Set32(fewer, 4, 4);
  EXPECT_EQ(Convert(fewer).out, SizeLine(fewer) + "./brick.pcx (64x64)\n./sky.pcx (256x128)\n\n");
}

TEST_F(Run, KeepsEveryNameByteButSlash) {
  const std::vector<std::string> names = {
      "{fence", "!water", "+0button",         "-0rock", "MiXeD", "caf\xE9",
      "..",     "",       "ABCDEFGHIJKLMNOP", "dup",    "dup"};
  std::vector<Texture> textures;
  std::string lines;
  for (const std::string& name : names) {
    textures.push_back(Make(name, 3, 2 + static_cast<uint32_t>(textures.size())));
    lines += "./" + name + ".pcx (3x" + std::to_string(textures.back().height) + ")\n";
  }
  Bytes package = Package(textures);
  // The 16-byte name is followed by the width, not a zero: the name stops at its field.
  const Result r = Convert(package);
  EXPECT_EQ(r.out, SizeLine(package) + lines + "\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.files.size(), names.size() - 1);
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    EXPECT_EQ(Decode(r.files.at(names[i] + ".pcx")), Expected(textures[i == 9 ? 10 : i])) << i;
  }
}

TEST_F(Run, ReadsPastTheEndAsBytesFF) {
  // Directory first, so that cutting the tail cuts the last texture.
  const Texture t = Make("tail", 8, 4, 16);
  const Bytes whole = Package({t}, true);
  const size_t pixelsEnd = whole.size() - 2 - 48 - (32 / 4 + 32 / 16 + 32 / 64);

  const Bytes shortPalette(whole.begin(), whole.end() - 5);
  Result r = Convert(shortPalette);
  EXPECT_EQ(r.out, SizeLine(shortPalette) + "./tail.pcx (8x4)\n\n");
  Bytes palette = t.palette;
  std::fill(palette.end() - 5, palette.end(), 0xFF);
  EXPECT_EQ(Decode(r.files.at("tail.pcx")), Expected(t, palette));

  // The count itself past the end reads as 65279 entries, and 256 of them are written.
  const Bytes noPalette(whole.begin(), whole.begin() + static_cast<long>(pixelsEnd));
  r = Convert(noPalette);
  EXPECT_EQ(r.out, SizeLine(noPalette) + "./tail.pcx (8x4)\n\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Decode(r.files.at("tail.pcx")), Expected(t, Bytes(kPaletteBytes, 0xFF)));
}

TEST_F(Run, WritesImagesWithoutRowsOrColumns) {
  const Texture flat = Make("flat", 0, 3), thin = Make("thin", 5, 0);
  const Bytes package = Package({flat, thin});
  const Result r = Convert(package);
  EXPECT_EQ(r.out, SizeLine(package) + "./flat.pcx (0x3)\n./thin.pcx (5x0)\n\n");
  EXPECT_EQ(Decode(r.files.at("flat.pcx")), Expected(flat));
  EXPECT_EQ(Decode(r.files.at("thin.pcx")), Expected(thin));

  const Bytes empty = Package({});
  EXPECT_EQ(Convert(empty).out, "Filesize : 12\n\n");
}

TEST_F(Run, ReportsATextureLargerThanMemory) {
  if (kWindows) GTEST_SKIP() << "Windows has no address-space limit to set on one process";
  // A 32-bit program cannot hold 2^32 pixels at all; a 64-bit one gets an address-space limit.
  const uint64_t side = sizeof(size_t) < 8 ? 65536 : 8192;
  if (side == 8192) {
#if defined(WAD3_SANITIZE) || defined(WAD3_EMULATOR)
    GTEST_SKIP() << "the sanitizer's shadow memory or the emulator needs more address space";
#endif
    memoryLimit_ = 32 << 20;
  }
  // The texture's pixels are really in the file, as a sparse tail.
  Bytes package = Package({Make("huge", 1, 1)}, true);
  wadpack::Set32(package, 12 + 32 + 16, uint32_t(side));
  wadpack::Set32(package, 12 + 32 + 20, uint32_t(side));
  WriteFile(root_ / "p.wad", package);
  const uint64_t size = 12 + 32 + 40 + side * side;
  fs::resize_file(root_ / "p.wad", size);
  const Result r = Wad3({"../p.wad"});
  EXPECT_EQ(r.out, "Filesize : " + std::to_string(size) + "\nOut of memory (ImageData).\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.files.empty());
}

// A texture stored 3 GiB into its package: the size and every position need 64 bits, on
// 32-bit systems and on Windows too. The gap before it is sparse.
TEST_F(Run, ReadsTexturesPast2GiB) {
  const Texture t = Make("far", 5, 3);
  Bytes package = Package({t}, true);
  const uint64_t at = uint64_t{3} << 30, size = at + package.size() - 12 - 32;
  wadpack::Set32(package, 12, uint32_t(at));
  WriteFile(root_ / "p.wad", Bytes(package.begin(), package.begin() + 12 + 32));
  fs::resize_file(root_ / "p.wad", at);
  std::ofstream(root_ / "p.wad", std::ios::binary | std::ios::app)
      .write(reinterpret_cast<const char*>(package.data()) + 12 + 32,
             static_cast<std::streamsize>(package.size() - 12 - 32));
  ASSERT_EQ(fs::file_size(root_ / "p.wad"), size);
  Result r = Wad3({"../p.wad"});
  EXPECT_EQ(r.out, "Filesize : " + std::to_string(size) + "\n./far.pcx (5x3)\n\n");
  EXPECT_EQ(Decode(r.files["far.pcx"]), Expected(t));
}

// Shapes that readers trip over: odd widths, single pixels, runs at the 63 limit, values
// that look like run counts, short palettes, and a large noisy image.
TEST_F(Run, WritesImagesThatOtherReadersDecodeExactly) {
  if (!ReadersPresent() && !ReadersRequired()) GTEST_SKIP() << "needs ImageMagick and netpbm";
  std::vector<Texture> textures = {Make("one", 1, 1), Make("odd", 45, 7, 16),
                                   Make("short", 9, 5, 3)};
  Texture runs = Make("runs", 127, 3), high = Make("high", 33, 9),
          noise = Make("noise", 1024, 1024);
  std::fill(runs.pixels.begin(), runs.pixels.begin() + 127 + 64, 0xC7);
  for (size_t i = 0; i < high.pixels.size(); ++i) high.pixels[i] = uint8_t(0xBE + i % 66);
  unsigned seed = 7;
  for (uint8_t& p : noise.pixels) p = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
  textures.insert(textures.end(), {runs, high, noise});
  const Result r = Convert(Package(textures));
  EXPECT_EQ(r.status, 0);
  for (const Texture& t : textures) EXPECT_EQ(Decode(r.files.at(t.name + ".pcx")), Expected(t));
}

TEST_F(Run, ConvertsTheBundledSample) {
  const Result r = Wad3({fs::absolute(WAD3_SAMPLE).string()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.files.size(), 5u);
}

TEST_F(Run, ReportsPackagesThatCannotBeRead) {
  fs::create_directory(root_ / "dir.wad");
  Result r = Wad3({"../dir.wad"});  // opens, but reads nothing; Windows opens no folder
  if (kWindows) {
    EXPECT_EQ(r.out, "File not found : ../dir.wad\n");
  } else {
    EXPECT_TRUE(r.out.starts_with("Filesize : ")) << r.out;
    EXPECT_TRUE(r.out.ends_with("\nInvalid WAD3 header id.\n")) << r.out;
  }
  EXPECT_EQ(r.status, 1);
  r = Wad3({""});
  EXPECT_EQ(r.out, "File not found : \n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(Run, PrintsUsageForAnyOtherArgumentCount) {
  for (const auto& args : {std::vector<std::string>{}, {"a.wad", "b.wad"}}) {
    const Result r = Wad3(args);
    EXPECT_EQ(r.out, "USAGE:  WAD3 filename.wad\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.files.empty());
  }
}

// Windows reads some names as a folder, a stream or a device: there they end the run before
// anything is made, and names it cannot hold fail as any file that cannot be made. Everywhere
// else they are plain names.
TEST_F(Run, RefusesNamesThatAreNoPlainFileOnWindows) {
  enum Outcome { kWritten, kRefused, kUncreatable };
  const std::pair<std::string, Outcome> cases[] = {
      // clang-format off
      {"..\\x", kRefused},    {"a\\b", kRefused},     {"c:stream", kRefused},
      {"CON", kRefused},      {"nul", kRefused},      {"lpt1.tex", kRefused},
      {"Aux  ", kRefused},    {"com9", kRefused},     {"PRN.a.b", kRefused},
      {"COM10", kWritten},    {"CONSOLE", kWritten},  {"nul_floor", kWritten},
      {"LPT0", kWritten},     {"AUX_", kWritten},     {"a?b", kUncreatable},
      {"a*b", kUncreatable},  {"a<b>", kUncreatable}, {"a|b", kUncreatable},
      {"a\"b", kUncreatable}, {"a\tb", kUncreatable},
      // Superscript one to three count as digits there; wine reads names in code page 1252.
      {"COM\xB9", kRefused},  {"lpt\xB3.wall", kRefused}, {"CONIN$", kRefused},
      {"conout$.x", kRefused}, {"aux", kRefused},        {"COM\xB4", kWritten},
      {"LPT\xB9\xB9", kWritten}, {"CONIN", kWritten},     {"CONOUT$$", kWritten},
      {"xCOM\xB2", kWritten},
      // clang-format on
  };
  for (const auto& [name, onWindows] : cases) {
    fs::remove_all(work_);
    fs::create_directory(work_);
    const Texture t = Make(name, 3, 2);
    const Bytes package = Package({t});
    Result r = Convert(package);
    const std::string path = "./" + name + ".pcx";
    switch (kWindows ? onWindows : kWritten) {
      case kWritten:
        EXPECT_EQ(r.out, SizeLine(package) + path + " (3x2)\n\n") << name;
        EXPECT_EQ(Decode(r.files[name + ".pcx"]), Expected(t)) << name;
        break;
      case kRefused:
        EXPECT_EQ(r.out, SizeLine(package) + "Invalid mip entry; name is malformed.\n") << name;
        break;
      case kUncreatable:
        EXPECT_EQ(r.out,
                  SizeLine(package) + "Could not create : " + path + "\nSomething went wrong...\n")
            << name;
        break;
    }
    EXPECT_EQ(r.status, kWindows && onWindows != kWritten ? 1 : 0) << name;
    EXPECT_EQ(r.files.size(), kWindows && onWindows != kWritten ? 0u : 1u) << name;
  }
}

// Each case: a package, what to place in the work directory first, the lines after the
// size line, and the files the run leaves.
TEST_F(Run, EndsAtTheFirstProblemAndKeepsEarlierFiles) {
  const Texture first = Make("first", 4, 4), second = Make("second", 8, 8);
  const Bytes good = Package({first, second});
  // The second texture, 8x8, fills the bytes before the directory: header, mips, palette.
  const size_t dir = good.size() - 64, secondMip = dir - (40 + 64 + 16 + 4 + 1 + 2 + 768);
  // The same with the directory first: the second texture is the end of the file.
  const Bytes early = Package({first, second}, true);
  const size_t earlyMip = 12 + 64 + (40 + 16 + 4 + 1 + 2 + 768);
  auto patched = [&](size_t at, uint32_t value) {
    Bytes b = good;
    wadpack::Set32(b, at, value);
    return b;
  };
  auto named = [&](const std::string& name) {
    Bytes b = good;
    std::copy(name.begin(), name.end(), b.begin() + static_cast<long>(secondMip));
    return b;
  };
  const std::string done = "./first.pcx (4x4)\n";
  const std::string pixels = "Invalid mip entry; offsets[0] is malformed.\n";
  const std::string wrong = "Something went wrong...\n";
  const struct {
    const char* what;
    Bytes package;
    std::string setup, lines;
    std::vector<std::string> left;
  } cases[] = {
      // clang-format off
      {"short", Bytes(good.begin(), good.begin() + 11), "", "WAD3 file is malformed.\n", {}},
      {"short, no magic", Bytes(11, 'x'), "", "WAD3 file is malformed.\n", {}},  // size first
      {"magic", patched(0, 0x34444157), "", "Invalid WAD3 header id.\n", {}},
      {"ends in directory", Bytes(good.begin(), good.end() - 1), "", "WAD3 file is malformed.\n", {}},
      {"ends in palette", Bytes(good.begin(), good.begin() + long(dir) - 9), "", "WAD3 file is malformed.\n", {}},
      {"lumps wrap", patched(4, 0x08000000), "", "WAD3 file is malformed.\n", {}},
      {"filepos", patched(dir + 32, uint32_t(good.size())), "",
       done + "Invalid lump entry; filepos (MIP) is malformed.\n", {"first.pcx"}},
      {"header at end", patched(dir + 32, uint32_t(good.size() - 1)), "", done + pixels, {"first.pcx"}},
      {"ends in header", Bytes(early.begin(), early.begin() + long(earlyMip) + 20), "", done + pixels,
       {"first.pcx"}},
      {"pixels", patched(secondMip + 24, 41 + 85 + 2 + 768), "", done + pixels, {"first.pcx"}},
      {"offset wraps", patched(secondMip + 24, uint32_t(-secondMip)), "", done + pixels, {"first.pcx"}},
      {"size wraps", patched(secondMip + 20, 0x20000000), "", done + pixels, {"first.pcx"}},
      {"slash", named("../x"), "", done + "Invalid mip entry; name is malformed.\n", {"first.pcx"}},
      {"too large", Package({first, Make("wide", 70000, 1)}), "",
       done + "Image too large : ./wide.pcx (70000x1)\n" + wrong, {"first.pcx"}},
      {"create", good, "dir", done + "Could not create : ./second.pcx\n" + wrong,
       {"first.pcx", "second.pcx"}},
      {"disk full", good, "full", done + "./second.pcx (8x8)\nCould not write : ./second.pcx\n" + wrong,
       {"first.pcx"}},
      {"disk full mid-file", Package({first, Make("second", 256, 256)}), "full",
       done + "./second.pcx (256x256)\nCould not write : ./second.pcx\n" + wrong, {"first.pcx"}},
      // clang-format on
  };
  for (const auto& c : cases) {
    if (kWindows && c.setup == "full") continue;  // Windows has no /dev/full to fill up
    fs::remove_all(work_);
    fs::create_directory(work_);
    if (c.setup == "dir") fs::create_directory(work_ / "second.pcx");
    if (c.setup == "full") fs::create_symlink("/dev/full", work_ / "second.pcx");
    const Result r = Convert(c.package);
    EXPECT_EQ(r.out, SizeLine(c.package) + c.lines) << c.what;
    EXPECT_EQ(r.err, "") << c.what;
    EXPECT_EQ(r.status, 1) << c.what;
    std::vector<std::string> left;
    for (const auto& [name, bytes] : r.files) left.push_back(name);
    EXPECT_EQ(left, c.left) << c.what;
    if (r.files.contains("first.pcx")) {
      EXPECT_EQ(Decode(r.files.at("first.pcx")), Expected(first)) << c.what;
    }
  }
  const Result missing = Wad3({"../missing.wad"});
  EXPECT_EQ(missing.out, "File not found : ../missing.wad\n");
  EXPECT_EQ(missing.status, 1);
}

}  // namespace
