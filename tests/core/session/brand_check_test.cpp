#include <gtest/gtest.h>

#include <string>

#include "core/brands.h"
#include "core/session/brand_check.h"

namespace orvane {
namespace {

std::array<uint8_t, 256> Page(std::string_view text, uint8_t fill = 0) {
  std::array<uint8_t, 256> p;
  p.fill(fill);
  std::copy(text.begin(), text.end(), p.begin());
  return p;
}

TEST(CheckDeviceBrand, RuleTable) {
  using namespace brands;
  const auto erased = Page("", 0xFF);
  struct Case {
    const char* name;
    std::array<uint8_t, 256> brand;
    int32_t gen;
    std::string_view build;
    int rule;
    bool accepted;
  } cases[] = {
      {"unbranded build takes anything", Page("whatever"), 3, kUnbranded, 1, true},
      {"never-written page gets the build brand", erased, 3, kBrand8, 2, true},
      {"own brand", Page(std::string(kBrand11) + "-X"), 3, kBrand11, 3, true},
      {"brand 1 device, brand 2 build, old settings", Page(kBrand1), 1, kBrand2, 4, true},
      {"brand 1 device, brand 2 build, gen 2", Page(kBrand1), 2, kBrand2, 8, false},
      {"brand 1 device, brand 2 build, unrecognised settings", Page(kBrand1), -1, kBrand2, 4, true},
      {"brand 7 device, brand 10 build", Page(kBrand7), 3, kBrand10, 5, true},
      {"brand 11 device, brand 12 build", Page(kBrand11), 3, kBrand12, 6, true},
      {"brand 14 device, brand 7 build", Page(kBrand14), 3, kBrand7, 7, true},
      {"brand 13 device, brand 8 build", Page(kBrand13), 3, kBrand8, 8, false},
      {"truncated own brand", Page(kBrand12.substr(0, 10)), 3, kBrand12, 8, false},
  };
  for (const Case& c : cases) {
    const BrandDecision d = CheckDeviceBrand(c.brand, c.gen, c.build);
    EXPECT_EQ(d.rule, c.rule) << c.name;
    EXPECT_EQ(d.accepted, c.accepted) << c.name;
  }
  const BrandDecision filled = CheckDeviceBrand(erased, 3, kBrand8);
  EXPECT_TRUE(filled.rewrite);
  EXPECT_EQ(filled.newBrand, Page(kBrand8));
  const BrandDecision moved = CheckDeviceBrand(Page(std::string(kBrand1) + "xyz"), 0, kBrand2);
  EXPECT_TRUE(moved.rewrite);
  EXPECT_EQ(moved.newBrand, Page(kBrand2));
}

TEST(FormatDateStamp, CalendarConversion) {
  EXPECT_EQ(FormatDateStamp(0), "19700101");
  EXPECT_EQ(FormatDateStamp(951782400), "20000229");     // leap day of a year divisible by 400
  EXPECT_EQ(FormatDateStamp(951868800 - 1), "20000229");
  EXPECT_EQ(FormatDateStamp(951868800), "20000301");
  EXPECT_EQ(FormatDateStamp(1767225600), "20260101");    // midnight starts the day
  EXPECT_EQ(FormatDateStamp(1767225600 - 1), "20251231");
  EXPECT_EQ(FormatDateStamp(4102444800u), "21000101");   // 2100 is not a leap year
  EXPECT_EQ(FormatDateStamp(4107542400u), "21000301");
  EXPECT_EQ(FormatDateStamp(0xFFFFFFFFu), "21060207");
}

}  // namespace
}  // namespace orvane
