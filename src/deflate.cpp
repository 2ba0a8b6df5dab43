/*
 * zlib streams (RFC 1950) of deflate blocks (RFC 1951):
 *   u8 0x78, u8 0x9C (32 KiB window, default level, no dictionary), the blocks, u32 Adler-32 of
 *   the data, big-endian.
 *   A block, its bits from the least significant of each byte: 1 bit final, 2 bits type (0
 *   stored, 1 fixed codes, 2 codes of its own), then
 *     stored: to the next byte, u16 length, u16 its complement, the bytes;
 *     codes of its own: 5 bits literal/length codes - 257, 5 bits distance codes - 1, 4 bits
 *     code-length codes - 4, 3 bits each code-length code's length (in kCodeLengthOrder), the
 *     two codes' lengths coded with them (16: the last 3-6 more times, 17: 3-10 zeros, 18:
 *     11-138 zeros), then the symbols: 0-255 a byte, 256 the block's end, 257-285 a match's
 *     length (with extra bits) followed by its distance code (with extra bits).
 *   Huffman codes are sent most significant bit first, everything else least significant first.
 * Matches are found as zlib's default level finds them, a chain of earlier places of the same
 * hash, a match taken only when the next place has none longer; but the hash is of four bytes,
 * not three: palette indices repeat by threes too often by chance, and the chains grow long. Each block, up to
 * kBlockSymbols symbols, is written whichever way is smallest.
 */
#include "deflate.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr uint32_t kMinMatch = 3, kMaxMatch = 258;
constexpr uint32_t kWindow = 32768, kWindowMask = kWindow - 1;
constexpr uint32_t kMaxDistance = kWindow - kMaxMatch - kMinMatch - 1;  // prev[] still holds it
constexpr uint32_t kHashBits = 15, kHashSize = 1u << kHashBits;
constexpr uint32_t kNone = 0xFFFFFFFF;
// zlib's level 6: chains followed this far, a quarter as far once a match is this good, none
// sought at the next place once one is this long, and a match this long taken at once.
constexpr uint32_t kChain = 128, kGood = 8, kLazy = 16, kNice = 128;
// Filtered rows are mostly small numbers, which a short match codes worse than the bytes do:
// only longer matches are taken there (zlib's Z_FILTERED).
constexpr uint32_t kFilteredMatch = 6;
constexpr size_t kBlockSymbols = 16384;
constexpr size_t kStoredMost = 65535;  // a stored block's bytes
constexpr int kLiterals = 286, kDistances = 30, kCodeLengths = 19;
constexpr int kEnd = 256;
constexpr int kMostBits = 15, kMostCodeLengthBits = 7;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                        33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[kCodeLengths] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                    11, 4,  12, 3, 13, 2, 14, 1, 15};

// The working memory: one stream at a time.
uint32_t head[kHashSize];  // the last place of each hash
uint32_t prev[kWindow];    // the place before, of the same hash
// Matches of three bytes alone, found in a table of the last place of each three, not in the
// chains of four: within kNear3, where they take fewer bits than the bytes.
constexpr uint32_t kHash3Bits = 12, kHash3Size = 1u << kHash3Bits, kNear3 = 4096;
uint32_t head3[kHash3Size];
uint16_t symbols[kBlockSymbols];  // a byte, or kMatch | (length - kMinMatch)
uint16_t distances[kBlockSymbols];
constexpr uint16_t kMatch = 0x8000;
constexpr uint16_t kMatchLength = 0x7FFF; /* a match's symbol less kMatch */
uint8_t lengthCode[kMaxMatch + 1];  // length -> its code - 257
uint8_t distanceCode[512];  // distance - 1 below 256, else 256 + ((distance - 1) >> 7) -> its code

int DistanceCode(uint32_t distance) {
  return distanceCode[distance <= 256 ? distance - 1 : 256 + ((distance - 1) >> 7)];
}

struct BITS {
  uint8_t* out;
  size_t at;
  uint64_t buffer;
  int count;
};

// Bits go out four bytes at a time; ToByte puts out the rest, to the next whole byte.
void Put(BITS* bits, uint32_t value, int count) {
  bits->buffer |= uint64_t{value} << bits->count;
  bits->count += count;
  if (bits->count >= 32) {
    for (int k = 0; k < 4; ++k) bits->out[bits->at++] = static_cast<uint8_t>(bits->buffer >> (8 * k));
    bits->buffer >>= 32;
    bits->count -= 32;
  }
}

void ToByte(BITS* bits) {
  for (; bits->count > 0; bits->count -= std::min(bits->count, 8)) {
    bits->out[bits->at++] = static_cast<uint8_t>(bits->buffer);
    bits->buffer >>= 8;
  }
  bits->count = 0;
}

// Huffman code lengths for `count` symbols of these frequencies, none longer than `most`: the
// frequencies are halved until the code fits, which costs little and keeps this short.
void Lengths(const uint32_t* frequencies, int count, int most, uint8_t* lengths) {
  uint32_t weights[kLiterals];
  std::copy(frequencies, frequencies + count, weights);
  for (;;) {
    std::fill(lengths, lengths + count, 0);
    // Leaves by weight, then the two-queue construction: parents[] of leaves and nodes.
    int leaves[kLiterals], used = 0;
    for (int s = 0; s < count; ++s) {
      if (weights[s] != 0) leaves[used++] = s;
    }
    if (used == 0) return;
    if (used == 1) {
      lengths[leaves[0]] = 1;
      return;
    }
    std::sort(leaves, leaves + used, [&](int a, int b) {
      return weights[a] != weights[b] ? weights[a] < weights[b] : a < b;
    });
    uint64_t weight[2 * kLiterals];
    int parent[2 * kLiterals];
    for (int k = 0; k < used; ++k) weight[k] = weights[leaves[k]];
    int leaf = 0, node = used, made = used;
    const auto smallest = [&]() {
      if (leaf < used && (node == made || weight[leaf] <= weight[node])) return leaf++;
      return node++;
    };
    while (made < 2 * used - 1) {
      const int a = smallest(), b = smallest();
      weight[made] = weight[a] + weight[b];
      parent[a] = parent[b] = made;
      ++made;
    }
    int depth[2 * kLiterals];
    depth[made - 1] = 0;
    int deepest = 0;
    for (int k = made - 2; k >= 0; --k) {
      depth[k] = depth[parent[k]] + 1;
      if (k < used) deepest = std::max(deepest, depth[k]);
    }
    if (deepest <= most) {
      for (int k = 0; k < used; ++k) lengths[leaves[k]] = static_cast<uint8_t>(depth[k]);
      return;
    }
    for (int s = 0; s < count; ++s) {
      if (weights[s] != 0) weights[s] = (weights[s] + 1) / 2;
    }
  }
}

// The canonical codes of these lengths, bit-reversed, as they are put least significant first.
void Codes(const uint8_t* lengths, int count, uint16_t* codes) {
  uint16_t perLength[kMostBits + 2] = {}, next[kMostBits + 2] = {};
  for (int s = 0; s < count; ++s) ++perLength[lengths[s]];
  perLength[0] = 0;
  for (int bits = 1, code = 0; bits <= kMostBits; ++bits) {
    code = (code + perLength[bits - 1]) << 1;
    next[bits] = static_cast<uint16_t>(code);
  }
  for (int s = 0; s < count; ++s) {
    const int length = lengths[s];
    if (length == 0) continue;
    uint32_t code = next[length]++, reversed = 0;
    for (int k = 0; k < length; ++k, code >>= 1) reversed = (reversed << 1) | (code & 1);
    codes[s] = static_cast<uint16_t>(reversed);
  }
}

struct CODES {
  uint8_t literalLengths[kLiterals + 2];  // the fixed codes have 288
  uint8_t distanceLengths[kDistances];
  uint16_t literalCodes[kLiterals + 2];
  uint16_t distanceCodes[kDistances];
};

// The bits the block's symbols take with these code lengths, extra bits included.
uint64_t SymbolBits(const uint32_t* literals, const uint32_t* dists, const CODES& codes) {
  uint64_t bits = 0;
  for (int s = 0; s < kLiterals; ++s) {
    bits += uint64_t{literals[s]} * (codes.literalLengths[s] + (s > kEnd ? kLengthExtra[s - kEnd - 1] : 0u));
  }
  for (int d = 0; d < kDistances; ++d) bits += uint64_t{dists[d]} * (codes.distanceLengths[d] + kDistanceExtra[d]);
  return bits;
}

// The two codes' lengths, run-length coded: { symbol, extra value } pairs.
int RunLengths(const uint8_t* lengths, int count, uint8_t* runs, uint8_t* extras) {
  int made = 0;
  for (int at = 0; at < count;) {
    const uint8_t length = lengths[at];
    int run = 1;
    while (at + run < count && lengths[at + run] == length) ++run;
    at += run;
    if (length == 0) {
      while (run >= 11) {
        const int take = std::min(run, 138);
        runs[made] = 18, extras[made++] = static_cast<uint8_t>(take - 11);
        run -= take;
      }
      if (run >= 3) {
        runs[made] = 17, extras[made++] = static_cast<uint8_t>(run - 3);
        run = 0;
      }
    } else {
      runs[made] = length, extras[made++] = 0;
      --run;
      while (run >= 3) {
        const int take = std::min(run, 6);
        runs[made] = 16, extras[made++] = static_cast<uint8_t>(take - 3);
        run -= take;
      }
    }
    while (run-- > 0) runs[made] = length, extras[made++] = 0;
  }
  return made;
}

constexpr uint8_t kRunExtraBits[kCodeLengths] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

void PutSymbols(BITS* bits, size_t count, const CODES& codes) {
  for (size_t k = 0; k < count; ++k) {
    const uint16_t symbol = symbols[k];
    if ((symbol & kMatch) == 0) {
      Put(bits, codes.literalCodes[symbol], codes.literalLengths[symbol]);
      continue;
    }
    const uint32_t length = (symbol & kMatchLength) + kMinMatch, code = lengthCode[length];
    Put(bits, codes.literalCodes[kEnd + 1 + code], codes.literalLengths[kEnd + 1 + code]);
    Put(bits, length - kLengthBase[code], kLengthExtra[code]);
    const uint32_t distance = distances[k], dcode = static_cast<uint32_t>(DistanceCode(distance));
    Put(bits, codes.distanceCodes[dcode], codes.distanceLengths[dcode]);
    Put(bits, distance - kDistanceBase[dcode], kDistanceExtra[dcode]);
  }
  Put(bits, codes.literalCodes[kEnd], codes.literalLengths[kEnd]);
}

// Writes the block of `count` symbols that stand for the bytes `raw`..`raw + size`.
void Block(BITS* bits, size_t count, const uint8_t* raw, size_t size, bool last) {
  uint32_t literals[kLiterals] = {}, dists[kDistances] = {};
  for (size_t k = 0; k < count; ++k) {
    if ((symbols[k] & kMatch) == 0) {
      ++literals[symbols[k]];
    } else {
      ++literals[kEnd + 1 + lengthCode[(symbols[k] & kMatchLength) + kMinMatch]];
      ++dists[DistanceCode(distances[k])];
    }
  }
  literals[kEnd] = 1;
  // Its own codes, and what sending them costs.
  CODES own = {};
  Lengths(literals, kLiterals, kMostBits, own.literalLengths);
  Lengths(dists, kDistances, kMostBits, own.distanceLengths);
  int literalCount = kLiterals, distanceCount = kDistances;
  while (literalCount > 257 && own.literalLengths[literalCount - 1] == 0) --literalCount;
  while (distanceCount > 1 && own.distanceLengths[distanceCount - 1] == 0) --distanceCount;
  uint8_t both[kLiterals + kDistances], runs[kLiterals + kDistances], extras[kLiterals + kDistances];
  std::copy(own.literalLengths, own.literalLengths + literalCount, both);
  std::copy(own.distanceLengths, own.distanceLengths + distanceCount, both + literalCount);
  const int runCount = RunLengths(both, literalCount + distanceCount, runs, extras);
  uint32_t runFrequencies[kCodeLengths] = {};
  for (int k = 0; k < runCount; ++k) ++runFrequencies[runs[k]];
  uint8_t runLengths[kCodeLengths];
  uint16_t runCodes[kCodeLengths] = {};
  Lengths(runFrequencies, kCodeLengths, kMostCodeLengthBits, runLengths);
  Codes(runLengths, kCodeLengths, runCodes);
  int orderCount = kCodeLengths;
  while (orderCount > 4 && runLengths[kCodeLengthOrder[orderCount - 1]] == 0) --orderCount;
  uint64_t ownBits = 3 + 5 + 5 + 4 + 3 * uint64_t(orderCount) + SymbolBits(literals, dists, own);
  for (int k = 0; k < runCount; ++k) ownBits += runLengths[runs[k]] + kRunExtraBits[runs[k]];
  // The fixed codes.
  CODES fixed = {};
  for (int s = 0; s < kLiterals + 2; ++s) fixed.literalLengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  std::fill(fixed.distanceLengths, fixed.distanceLengths + kDistances, 5);
  const uint64_t fixedBits = 3 + SymbolBits(literals, dists, fixed);
  // Stored: to the next byte, then four bytes and the bytes, for each run of kStoredMost.
  const size_t pieces = std::max<size_t>(1, (size + kStoredMost - 1) / kStoredMost);
  const uint64_t storedBits = (3 + 7 + 32) * uint64_t{pieces} + 8 * uint64_t{size};

  if (storedBits <= ownBits && storedBits <= fixedBits) {
    for (size_t piece = 0, at = 0; piece < pieces; ++piece) {
      const size_t take = std::min(kStoredMost, size - at);
      Put(bits, last && piece + 1 == pieces ? 1 : 0, 1);
      Put(bits, 0, 2);
      ToByte(bits);
      Put(bits, static_cast<uint32_t>(take), 16);
      Put(bits, static_cast<uint32_t>(~take & 0xFFFF), 16);
      std::memcpy(bits->out + bits->at, raw + at, take);
      bits->at += take;
      at += take;
    }
  } else if (fixedBits <= ownBits) {
    Put(bits, last ? 1 : 0, 1);
    Put(bits, 1, 2);
    Codes(fixed.literalLengths, kLiterals + 2, fixed.literalCodes);
    Codes(fixed.distanceLengths, kDistances, fixed.distanceCodes);
    PutSymbols(bits, count, fixed);
  } else {
    Put(bits, last ? 1 : 0, 1);
    Put(bits, 2, 2);
    Put(bits, static_cast<uint32_t>(literalCount - 257), 5);
    Put(bits, static_cast<uint32_t>(distanceCount - 1), 5);
    Put(bits, static_cast<uint32_t>(orderCount - 4), 4);
    for (int k = 0; k < orderCount; ++k) Put(bits, runLengths[kCodeLengthOrder[k]], 3);
    for (int k = 0; k < runCount; ++k) {
      Put(bits, runCodes[runs[k]], runLengths[runs[k]]);
      Put(bits, extras[k], kRunExtraBits[runs[k]]);
    }
    Codes(own.literalLengths, kLiterals, own.literalCodes);
    Codes(own.distanceLengths, kDistances, own.distanceCodes);
    PutSymbols(bits, count, own);
  }
}

// Four and eight bytes from p as one word, the first byte lowest, whatever the machine's byte
// order: the same hashes and match lengths, and so the same stream, on every machine.
uint32_t Load4(const uint8_t* p) {
  uint32_t word;
  std::memcpy(&word, p, sizeof word);
  return std::endian::native == std::endian::little ? word : __builtin_bswap32(word);
}
uint64_t Load8(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return std::endian::native == std::endian::little ? word : __builtin_bswap64(word);
}

uint32_t Hash(const uint8_t* p, uint32_t bits) {
  return (Load4(p) * 2654435761u) >> (32 - bits);
}

// The longest match for `at` among the places of its chain from `from`, if longer than `best`:
// { length, distance }.
void Longest(const uint8_t* data, size_t size, size_t at, uint32_t from, uint32_t best, uint32_t* length,
             uint32_t* distance) {
  const uint32_t most = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, size - at));
  uint32_t chain = best >= kGood ? kChain / 4 : kChain;
  *length = 0;
  for (uint32_t place = from; place != kNone && at - place <= kMaxDistance && chain-- > 0;) {
    const uint8_t *a = data + at, *b = data + place;
    // A place that cannot pass the best so far is left by the bytes up to one past it.
    bool passes = false;
    if (best < most && best >= 3) {
      passes = Load4(a + best - 3) == Load4(b + best - 3);
    } else if (best < most) {
      passes = a[best] == b[best];
    }
    if (passes && b[0] == a[0]) {
      uint32_t same = 0;
      while (same + 8 <= most) {
        const uint64_t x = Load8(a + same), y = Load8(b + same);
        if (x != y) {
          same += static_cast<uint32_t>(std::countr_zero(x ^ y) / 8);  // the first byte that differs
          break;
        }
        same += 8;
      }
      while (same < most && a[same] == b[same]) ++same;
      same = std::min(same, most);
      if (same > best) {
        best = *length = same;
        *distance = static_cast<uint32_t>(at - place);
        if (same >= kNice || same == most) break;
      }
    }
    const uint32_t earlier = prev[place & kWindowMask];
    if (earlier == kNone || earlier >= place) break;
    place = earlier;
  }
}

}  // namespace

size_t DeflateBound(size_t size) {
  return 2 + 4 + size + 5 * (size / kStoredMost + 1) + 2 * (size / kBlockSymbols + 1) + 16;
}

size_t Deflate(const uint8_t* data, size_t size, uint8_t* out, bool filtered) {
  const uint32_t shortest = filtered ? kFilteredMatch : kMinMatch;
  if (lengthCode[kMaxMatch] == 0) {
    for (int code = 0; code < 29; ++code) {
      for (uint32_t length = kLengthBase[code]; length <= kMaxMatch && (code == 28 || length < kLengthBase[code + 1]);
           ++length) {
        lengthCode[length] = static_cast<uint8_t>(code);
      }
    }
    for (int code = 0; code < kDistances; ++code) {
      const uint32_t end = code + 1 < kDistances ? kDistanceBase[code + 1] : kWindow + 1;
      for (uint32_t distance = kDistanceBase[code]; distance < end; ++distance) {
        distanceCode[distance <= 256 ? distance - 1 : 256 + ((distance - 1) >> 7)] = static_cast<uint8_t>(code);
      }
    }
  }
  // A hash about as wide as the data: a small picture's table is quick to clear.
  uint32_t hashBits = 8;
  while (hashBits < kHashBits && (size_t{1} << hashBits) < size) ++hashBits;
  std::fill(head, head + (size_t{1} << hashBits), kNone);
  BITS bits = {out, 0, 0, 0};
  Put(&bits, 0x78, 8);
  Put(&bits, 0x9C, 8);
  size_t count = 0, blockStart = 0;
  std::fill(head3, head3 + kHash3Size, kNone);
  uint32_t last3 = kNone;  // the last place of the three bytes at the place being inserted
  const auto insert = [&](size_t at) {
    last3 = kNone;
    if (at + kMinMatch > size) return kNone;
    const uint32_t three = data[at] | uint32_t{data[at + 1]} << 8 | uint32_t{data[at + 2]} << 16;
    const uint32_t hash3 = (three * 2654435761u) >> (32 - kHash3Bits);
    last3 = head3[hash3];
    head3[hash3] = static_cast<uint32_t>(at);
    if (at + 4 > size) return kNone;
    const uint32_t hash = Hash(data + at, hashBits), earlier = head[hash];
    prev[at & kWindowMask] = earlier;
    head[hash] = static_cast<uint32_t>(at);
    return earlier;
  };
  const auto emit = [&](uint16_t symbol, uint16_t distance, size_t end) {
    symbols[count] = symbol;
    distances[count++] = distance;
    if (count == kBlockSymbols && end < size) {
      Block(&bits, count, data + blockStart, end - blockStart, false);
      count = 0;
      blockStart = end;
    }
  };
  bool pending = false;
  uint32_t pendingLength = 0, pendingDistance = 0;
  for (size_t at = 0; at < size;) {
    uint32_t length = 0, distance = 0;
    const uint32_t from = insert(at);
    if (pendingLength < kLazy) {
      if (from != kNone) Longest(data, size, at, from, std::max(pendingLength, kMinMatch - 1), &length, &distance);
      // Three bytes alone, near enough to be worth a match: the last place they were.
      const uint32_t near = last3;
      if (length < kMinMatch && pendingLength < kMinMatch && near != kNone && at - near <= kNear3 &&
          data[near] == data[at] && data[near + 1] == data[at + 1] && data[near + 2] == data[at + 2]) {
        length = kMinMatch;
        distance = static_cast<uint32_t>(at - near);
      }
      if (length < shortest) length = 0;
    }
    if (pending && pendingLength >= kMinMatch && length <= pendingLength) {
      const size_t end = at - 1 + pendingLength;
      for (size_t k = at + 1; k < end; ++k) insert(k);
      emit(static_cast<uint16_t>(kMatch | (pendingLength - kMinMatch)), static_cast<uint16_t>(pendingDistance), end);
      at = end;
      pending = false;
      pendingLength = 0;
      continue;
    }
    if (pending) emit(data[at - 1], 0, at);
    pending = true;
    pendingLength = length;
    pendingDistance = distance;
    ++at;
  }
  if (pending) emit(data[size - 1], 0, size);
  Block(&bits, count, data + blockStart, size - blockStart, true);
  ToByte(&bits);
  uint32_t a = 1, b = 0;
  for (size_t k = 0; k < size;) {
    for (const size_t end = std::min(size, k + 5552); k < end; ++k) b += (a += data[k]);
    a %= 65521;
    b %= 65521;
  }
  const uint32_t adler = b << 16 | a;
  for (int shift = 24; shift >= 0; shift -= 8) bits.out[bits.at++] = static_cast<uint8_t>(adler >> shift);
  return bits.at;
}
