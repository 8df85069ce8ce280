// Decoding and judging Main ID Register values, and parsing the simulated value's text.
#include "orv_platform/processor_id.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace orv {
namespace platform {
namespace {

TEST(ProcessorId, DecodesImplementerAndPartNumber) {
  EXPECT_EQ(DecodeMidr(0x414fd0c1).implementer, 0x41u);
  EXPECT_EQ(DecodeMidr(0x414fd0c1).partNumber, 0xd0cu);
  EXPECT_EQ(DecodeMidr(0x461f0010).implementer, 0x46u);
  EXPECT_EQ(DecodeMidr(0x461f0010).partNumber, 0x001u);
  // Variant, architecture and revision fields do not leak into the two codes; upper bits are ignored.
  EXPECT_EQ(DecodeMidr(0xFFFFFFFF00000000ULL | 0xc0fff0afULL).implementer, 0xc0u);
  EXPECT_EQ(DecodeMidr(0xc0fff0afULL).partNumber, 0xf0au);
}

TEST(ProcessorId, AcceptsExactlyTheListedProcessors) {
  for (uint32_t part = 0; part <= 0xFFF; ++part) {
    EXPECT_TRUE(IsAcceptedProcessor({0x41, part}));
    EXPECT_EQ(IsAcceptedProcessor({0xC0, part}), part == 0xAC3) << part;
  }
  for (uint32_t impl = 0; impl <= 0xFF; ++impl) {
    if (impl != 0x41 && impl != 0xC0) {
      EXPECT_FALSE(IsAcceptedProcessor({impl, 0xAC3})) << impl;
      EXPECT_FALSE(IsAcceptedProcessor({impl, 0xD0C})) << impl;
    }
  }
}

TEST(ProcessorId, ParsesHexadecimalAndDecimalText) {
  uint64_t v = 0;
  ASSERT_TRUE(ParseMidrText("0x414fd0c1", v));
  EXPECT_EQ(v, 0x414fd0c1u);
  ASSERT_TRUE(ParseMidrText("0X414FD0C1", v));
  EXPECT_EQ(v, 0x414fd0c1u);
  ASSERT_TRUE(ParseMidrText("1095749825", v));
  EXPECT_EQ(v, 1095749825u);
  ASSERT_TRUE(ParseMidrText("0", v));
  EXPECT_EQ(v, 0u);
  ASSERT_TRUE(ParseMidrText("0xffffffffffffffff", v));
  EXPECT_EQ(v, UINT64_MAX);
  ASSERT_TRUE(ParseMidrText("18446744073709551615", v));
  EXPECT_EQ(v, UINT64_MAX);
}

TEST(ProcessorId, RejectsMalformedTextAndKeepsTheOutput) {
  for (const char* bad : {"", "0x", "x41", "0x41g", "12a", " 0x41", "0x41 ", "-1", "+65",
                          "0x10000000000000000", "18446744073709551616"}) {
    uint64_t v = 7;
    EXPECT_FALSE(ParseMidrText(bad, v)) << bad;
    EXPECT_EQ(v, 7u) << bad;
  }
  uint64_t v = 7;
  EXPECT_FALSE(ParseMidrText(nullptr, v));
}

TEST(ProcessorId, VerdictIsComputedOnceAndConsistent) {
  const ProcessorVerdict& a = ProcessorCheck();
  const ProcessorVerdict& b = ProcessorCheck();
  EXPECT_EQ(&a, &b);
  if (a.registerRead) {
    EXPECT_EQ(a.id.implementer, DecodeMidr(a.midr).implementer);
    EXPECT_EQ(a.id.partNumber, DecodeMidr(a.midr).partNumber);
    EXPECT_EQ(a.accepted, IsAcceptedProcessor(a.id));
  } else {
    EXPECT_FALSE(a.accepted);
  }
}

}  // namespace
}  // namespace platform
}  // namespace orv
