/* tools: little-endian integers on buffered streams.
 *
 *   get4 / put4   4 bytes: bits 0-7, then 8-15, 16-23, 24-31
 *   get2 / put2   2 bytes: bits 0-7, then 8-15
 *
 * One stream call per byte; the stream's buffer carries the cost. The readers
 * add up the byte values as the stream gives them, end of file (-1) included,
 * modulo 2^32: an exhausted stream reads as get4 = 0xFEFEFEFF and get2 = 0xFEFF,
 * sizes far beyond any package, which the callers' checks then refuse.
 *
 * Runs of bytes (names, palettes, pixels) are read one stream call per byte too, but on
 * WebAssembly, where they go through fread. A read or seek that fails, or a stream that ends
 * before the size measured at the start, is found once a part of the file is read, not per byte.
 */
#include "tools.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "wasi.h"
#include "win32.h"

namespace {

constexpr unsigned kByteMask = 0xFF;
constexpr unsigned kByteBits = 8;

// One byte value as it enters the sum: 0..255, or -1 (mod 2^32) at end of file.
uint32_t ReadByte(FILE* fp) {
  return static_cast<uint32_t>(getc_unlocked(fp));
}

uint8_t RunByte(FILE* fp) {
  return static_cast<uint8_t>(getc_unlocked(fp));
}

// Where the k-th byte in memory of a word lies in its value, on this machine.
constexpr unsigned ByteShift(unsigned k) {
  constexpr unsigned kLastByte = sizeof(uint64_t) - 1;
  return 8 * (std::endian::native == std::endian::little ? k : kLastByte - k);
}

void WriteByte(uint32_t value, FILE* fp) {
  putc_unlocked(static_cast<int>(value & kByteMask), fp);
}

}  // namespace

uint32_t get4(FILE* fp) {
  // Four separate reads: the bytes must be taken in stream order.
  const uint32_t b0 = ReadByte(fp);
  const uint32_t b1 = ReadByte(fp);
  const uint32_t b2 = ReadByte(fp);
  const uint32_t b3 = ReadByte(fp);
  return b0 + b1 * 0x100u + b2 * 0x10000u + b3 * 0x1000000u;
}

uint16_t get2(FILE* fp) {
  const uint32_t b0 = ReadByte(fp);
  const uint32_t b1 = ReadByte(fp);
  return static_cast<uint16_t>(b0 + b1 * 0x100u);
}

void put4(uint32_t value, FILE* fp) {
  for (unsigned shift = 0; shift < 4 * kByteBits; shift += kByteBits) WriteByte(value >> shift, fp);
}

void put2(uint16_t value, FILE* fp) {
  WriteByte(value, fp);
  WriteByte(value >> kByteBits, fp);
}

void ReadBytes(FILE* fp, void* out, uint64_t count) {
  auto* bytes = static_cast<uint8_t*>(out);
  if constexpr (kWholeRuns) {  // as the byte reads give them: 0xFF for each one not read
    const size_t read = fread(bytes, 1, static_cast<size_t>(count), fp);
    memset(bytes + read, 0xFF, static_cast<size_t>(count) - read);
    return;
  }
  uint64_t i = 0;
  // Eight bytes gathered in a word and stored at once. A byte stored through a byte pointer
  // may alias anything, the stream's own position included, so a store between two reads
  // would make the compiler load that position again; with none, it stays in a register.
  for (; i + sizeof(uint64_t) <= count; i += sizeof(uint64_t)) {
    uint64_t word = 0;
#pragma GCC unroll 8  // unrolled so that every shift is a constant
    for (unsigned k = 0; k < sizeof word; ++k) word |= uint64_t{RunByte(fp)} << ByteShift(k);
    memcpy(bytes + i, &word, sizeof word);
  }
  for (; i < count; ++i) bytes[i] = RunByte(fp);
}

bool SeekTo(FILE* fp, uint64_t position, uint64_t size) {
  return fseeko(fp, static_cast<off_t>(std::min(position, size)), SEEK_SET) == 0;
}

// The end-of-file flag alone cannot tell: Windows' C library may set it on a read that only
// reached the end.
bool ReadFailed(FILE* fp, uint64_t end) {
  return ferror(fp) != 0 || (feof(fp) != 0 && ftello(fp) < static_cast<off_t>(end));
}

bool CopyBytes(FILE* from, uint64_t at, uint64_t size, uint64_t length, FILE* to) {
  constexpr uint64_t kBlock = 1 << 20;  // memory holds a block, never the file
  if (length == 0) return true;
  if (at + length > size || !SeekTo(from, at, size)) return false;
  std::vector<uint8_t> block(static_cast<size_t>(std::min(length, kBlock)));
  for (uint64_t left = length; left != 0;) {
    const auto count = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    if (fread(block.data(), 1, count, from) != count) return false;
    fwrite(block.data(), 1, count, to);
    left -= count;
  }
  return true;
}

bool SyncFile(FILE* fp) {
#ifdef _WIN32
  return _commit(_fileno(fp)) == 0;
#else
  return fsync(fileno(fp)) == 0;
#endif
}
