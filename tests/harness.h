// What the end-to-end tests stand on: the program started in a fresh folder on Linux or on
// Windows, its lines and files gathered, file names read as the program spelled them, and
// two independent PCX readers that must agree with our own decoding.
#pragma once

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

namespace harness {

namespace fs = std::filesystem;
#ifdef _WIN32
constexpr bool kWindows = true;
constexpr const char* kNoInput = "NUL";
#else
constexpr bool kWindows = false;
constexpr const char* kNoInput = "/dev/null";
#endif
#ifdef WAD3_WASI_PROGRAM
constexpr bool kWasi = true;  // the program is wad3.wasm, started by Node's WASI
#else
constexpr bool kWasi = false;
#endif
using wadpack::Bytes;
using wadpack::Package;
using wadpack::Texture;

inline Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// A texture whose pixels and palette differ from every other one made here.
inline Texture Make(const std::string& name, uint32_t width, uint32_t height,
                    uint32_t entries = 256) {
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

inline Image Decode(const Bytes& file) {
  return pcxdecode::Decode(file).value_or(Image{});
}

// What a texture should become: its pixels and its first 256 entries, zero-filled.
inline Image Expected(const Texture& t, Bytes palette = {}) {
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
inline std::string NarrowName(const fs::path& name) {
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
inline int Spawn(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& in,
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
inline int Spawn(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& in,
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
inline Result Exec(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& in,
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

// The test tools are Linux programs, required under CI there; on Windows, CI compares the
// files with the Linux program's instead.
inline bool ToolsRequired() {
  return !kWindows && getenv("CI") != nullptr && std::string(getenv("CI")) == "true";
}
inline bool ReadersPresent() {
#ifdef _WIN32
  return false;
#else
  return access(kImageMagick, X_OK) == 0 && access(kNetpbm, X_OK) == 0;
#endif
}

inline Bytes Rgb(const Image& image) {
  Bytes rgb;
  for (const uint8_t i : image.pixels) {
    rgb.insert(rgb.end(), image.palette.begin() + i * 3, image.palette.begin() + i * 3 + 3);
  }
  return rgb;
}

// The pixel bytes of a binary PPM: after "P6", width, height, maxval and one blank.
inline Bytes PpmPixels(const std::string& ppm) {
  size_t at = 0;
  for (int field = 0; field < 4; ++field) {
    at = ppm.find_first_not_of(" \t\r\n", at);
    at = ppm.find_first_of(" \t\r\n", at);
  }
  return at == std::string::npos ? Bytes{}
                                 : Bytes(ppm.begin() + static_cast<long>(at) + 1, ppm.end());
}

// Both readers must see exactly the colours our own decoding of the file gives.
inline void ExpectReadersAgree(const fs::path& file, const Image& image, const fs::path& scratch) {
  if (image.width == 0 || image.height == 0) return;  // no reader takes an empty image
  if (!ReadersPresent()) {
    if (ToolsRequired()) ADD_FAILURE() << "ImageMagick and netpbm are needed under CI";
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

constexpr const char* kStrace = "/usr/bin/strace";

// Why the tests that fail calls from outside through strace cannot run here, or nothing where
// they can; where CI needs them, that is a fault too.
inline std::string WithoutStrace() {
#ifdef _WIN32
  return "strace traces Linux programs";
#else
  if (access(kStrace, X_OK) == 0) return {};
  if (ToolsRequired()) ADD_FAILURE() << "strace is needed under CI";
  return "needs strace";
#endif
}

// The command that runs a program under strace. LeakSanitizer cannot run in a program under
// ptrace; the sanitizers' other checks stay on.
inline std::vector<std::string> StraceCommand() {
#ifdef WAD3_SANITIZE
  const char* options = getenv("ASAN_OPTIONS");
  return {"/usr/bin/env",
          std::string("ASAN_OPTIONS=") + (options ? options : "") + ":detect_leaks=0", kStrace};
#else
  return {kStrace};
#endif
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
    std::vector<std::string> argv = tracer_;
#ifdef WAD3_EMULATOR
    argv.insert(argv.end(), {WAD3_EMULATOR});
#endif
    argv.push_back(program);
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
      if (plain && readers_) ExpectReadersAgree(entry.path(), Decode(bytes), root_);
    }
    return r;
  }

  Result Convert(const Bytes& package, const std::string& name = "p.wad") {
    WriteFile(root_ / name, package);
    return Wad3({"../" + name});
  }

  fs::path root_, work_;
  uint64_t memoryLimit_ = 0;         // the program's address space, when not 0
  std::vector<std::string> tracer_;  // the program runs under this command, when not empty
  bool readers_ = true;              // whether the independent readers check every image
};

inline std::string SizeLine(const Bytes& package) {
  return "Filesize : " + std::to_string(package.size()) + "\n";
}

}  // namespace harness
