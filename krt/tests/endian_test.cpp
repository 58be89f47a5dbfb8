#include "krt/endian.h"

#include <gtest/gtest.h>

TEST(Endian, RoundTripsAtAnyAlignment) {
  uint8_t buf[16] = {};
  krt::st64(buf + 1, 0x0102030405060708ull);
  EXPECT_EQ(buf[1], 0x08);
  EXPECT_EQ(buf[8], 0x01);
  EXPECT_EQ(krt::ld64(buf + 1), 0x0102030405060708ull);
  krt::st32(buf + 3, 0x789abcde);
  EXPECT_EQ(krt::ld32(buf + 3), 0x789abcdeu);
  EXPECT_EQ(buf[3], 0xde);
  krt::st16(buf + 11, 0xbeef);
  EXPECT_EQ(krt::ld16(buf + 11), 0xbeef);
}
