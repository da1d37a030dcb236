#include "platform/TextCodec.h"

#include <gtest/gtest.h>

namespace veldra {
namespace {

TEST(TextCodecTest, RoundTripsEveryPlane) {
  const std::u16string text = u"A\u00f3\u0141\u20ac\U0001F3E0\uFFFF";
  std::string utf8;
  ASSERT_TRUE(utf16ToUtf8(text, utf8));
  EXPECT_EQ(utf8, "A\xC3\xB3\xC5\x81\xE2\x82\xAC\xF0\x9F\x8F\xA0\xEF\xBF\xBF");
  std::u16string back;
  ASSERT_TRUE(utf8ToUtf16(utf8, back));
  EXPECT_EQ(back, text);
}

TEST(TextCodecTest, RefusesMalformedInputInsteadOfGuessing) {
  std::u16string out16;
  for (const char* bad : {"\xC0\xAF",             // overlong '/'
                          "\xE0\x80\xAF",         // overlong, three bytes
                          "\xED\xA0\x80",         // encoded surrogate
                          "\xF4\x90\x80\x80",     // above U+10FFFF
                          "\xC3",                 // cut short
                          "ab\xE2\x82",           // cut short at the end
                          "\x80",                 // lone continuation
                          "\xFF"}) {
    EXPECT_FALSE(isValidUtf8(bad)) << bad;
    EXPECT_FALSE(utf8ToUtf16(bad, out16)) << bad;
  }
  std::string out8;
  for (const std::u16string bad : {u"\xDC00", u"\xD83C" "a", u"\xD83C"}) EXPECT_FALSE(utf16ToUtf8(bad, out8));   // lone surrogates
}

TEST(TextCodec, LossyKeepsPolishAndReplacesBrokenBytes) {
  EXPECT_EQ(utf8ToUtf16Lossy("\xc5\x81\xc3\xb3" "dz"), u"\u0141\u00f3dz");
  EXPECT_EQ(utf8ToUtf16Lossy("a\xff" "b"), u"a\ufffd" "b");
  EXPECT_EQ(utf8ToUtf16Lossy("\xf0\x9f\x98\x80"), u"\U0001F600");
}

}  // namespace
}  // namespace veldra
