#include "tools.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// A scratch file: WASI has no temporary folder, so there one in the current folder, removed
// while it is open.
FILE* ScratchFile() {
#ifdef __wasi__
  static std::random_device random;
  const std::string name = "tools-test-" + std::to_string(random()) + ".tmp";
  FILE* fp = fopen(name.c_str(), "w+b");
  remove(name.c_str());
  return fp;
#else
  return tmpfile();
#endif
}

// A stream holding `bytes`, positioned at its start.
FILE* StreamOf(const Bytes& bytes) {
  FILE* fp = ScratchFile();
  fwrite(bytes.data(), 1, bytes.size(), fp);
  rewind(fp);
  return fp;
}

Bytes Written(void (*write)(FILE*)) {
  FILE* fp = ScratchFile();
  write(fp);
  Bytes bytes(static_cast<size_t>(ftell(fp)));
  rewind(fp);
  EXPECT_EQ(fread(bytes.data(), 1, bytes.size(), fp), bytes.size());
  fclose(fp);
  return bytes;
}

TEST(Readers, TakeTheLeastSignificantByteFirst) {
  FILE* fp = StreamOf({0x57, 0x41, 0x44, 0x33, 0x00, 0x01, 0xFF, 0xFF});
  EXPECT_EQ(get4(fp), 0x33444157u);
  EXPECT_EQ(get2(fp), 256u);
  EXPECT_EQ(get2(fp), 65535u);
  fclose(fp);
}

// A package cut short must read as huge sizes that the checks refuse, never as small ones.
TEST(Readers, CountEachMissingByteAsMinusOne) {
  FILE* fp = StreamOf({0x01, 0x02});
  EXPECT_EQ(get4(fp), 0xFEFF0201u);
  EXPECT_EQ(get4(fp), 0xFEFEFEFFu);
  EXPECT_EQ(get2(fp), 0xFEFFu);
  fclose(fp);
  fp = StreamOf({0x34});
  EXPECT_EQ(get2(fp), 0xFF34u);
  fclose(fp);
}

TEST(Writers, PutTheLeastSignificantByteFirst) {
  EXPECT_EQ(Written([](FILE* fp) { put4(0x01020304, fp); }), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(Written([](FILE* fp) { put2(static_cast<uint16_t>(-1), fp); }), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(Written([](FILE* fp) { put2(static_cast<uint16_t>(0x12345), fp); }),
            (Bytes{0x45, 0x23}));
}

}  // namespace
