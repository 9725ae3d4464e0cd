#include <gtest/gtest.h>

#include "core/brands.h"
#include "core/util/gbk.h"

namespace orvane {
namespace {

TEST(Gbk, ConvertsBothWaysAndShowsDamagedBytes) {
  EXPECT_EQ(GbkToUtf8("\xD6\xD0\xCE\xC4"), "中文");
  EXPECT_EQ(GbkToUtf8("T3K "), "T3K ");
  EXPECT_EQ(GbkToUtf8(""), "");
  // A lone lead byte at the end and a byte GBK never uses are escaped; the
  // text around them survives.
  EXPECT_EQ(GbkToUtf8("\xD6\xD0\xCE"), "中\\xCE");
  EXPECT_EQ(GbkToUtf8("A\xFF" "B"), "A\\xFFB");

  EXPECT_EQ(Utf8ToGbk("中文"), std::string("\xD6\xD0\xCE\xC4"));
  EXPECT_EQ(Utf8ToGbk(GbkToUtf8(brands::kBrand12)), std::string(brands::kBrand12));
  EXPECT_FALSE(Utf8ToGbk("\xF0\x9F\x98\x80"));  // no GBK form
  EXPECT_FALSE(Utf8ToGbk("\xC3"));              // not UTF-8

  EXPECT_EQ(ZeroTerminated(std::string_view("ab\0cd", 5)), "ab");
  EXPECT_EQ(ZeroTerminated("abc"), "abc");
}

}  // namespace
}  // namespace orvane
