/* tools: little-endian integers on buffered streams.
 *
 *   get4 / put4   4 bytes: bits 0-7, then 8-15, 16-23, 24-31
 *   get2 / put2   2 bytes: bits 0-7, then 8-15
 *
 * One stream call per byte; the stream's buffer carries the cost. The readers
 * add up the byte values as the stream gives them, end of file (-1) included,
 * modulo 2^32: an exhausted stream reads as get4 = 0xFEFEFEFF and get2 = 0xFEFF,
 * sizes far beyond any package, which the callers' checks then refuse.
 */
#include "tools.h"

#include "win32.h"

namespace {

constexpr unsigned kByteMask = 0xFF;
constexpr unsigned kByteBits = 8;

// One byte value as it enters the sum: 0..255, or -1 (mod 2^32) at end of file.
uint32_t ReadByte(FILE* fp) {
  return static_cast<uint32_t>(getc_unlocked(fp));
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
