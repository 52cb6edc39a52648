#include "base/cp1252.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

TEST(Cp1252Test, EveryByteSurvivesTheRoundTrip) {
  for (int byte = 1; byte < 256; ++byte) {
    const std::string ansi(1, static_cast<char>(byte));
    const std::optional<std::string> back = Utf8ToCp1252(Cp1252ToUtf8(ansi));
    ASSERT_TRUE(back.has_value()) << byte;
    EXPECT_EQ(*back, ansi) << byte;
  }
}

TEST(Cp1252Test, MapsTheSpecialBytesToTheirCharacters) {
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\u20AC");
  EXPECT_EQ(Cp1252ToUtf8("\x99"), "\u2122");
  EXPECT_EQ(Cp1252ToUtf8("\x9F"), "\u0178");
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "\u0081");
  EXPECT_EQ(Cp1252ToUtf8("Caf\xE9 \xA0"), "Caf\u00E9 \u00A0");
  EXPECT_EQ(Utf8ToCp1252("\u201Cquoted\u201D \u2013 \u0152uvre"), "\x93quoted\x94 \x96 \x8Cuvre");
}

TEST(Cp1252Test, RefusesCharactersTheCodePageCannotHold) {
  EXPECT_FALSE(Utf8ToCp1252("\u0100"));      // Latin A with macron
  EXPECT_FALSE(Utf8ToCp1252("a\u0080b"));    // a C1 control that byte 0x80 does not stand for
  EXPECT_FALSE(Utf8ToCp1252("\u4E2D"));      // CJK
  EXPECT_FALSE(Utf8ToCp1252("\U0001F600"));  // outside the BMP
}

TEST(Cp1252Test, RefusesMalformedUtf8) {
  EXPECT_FALSE(Utf8ToCp1252("\x80"));              // stray continuation byte
  EXPECT_FALSE(Utf8ToCp1252("\xC3"));              // truncated sequence
  EXPECT_FALSE(Utf8ToCp1252("\xC0\xA9"));          // overlong form of U+0029
  EXPECT_FALSE(Utf8ToCp1252("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(Utf8ToCp1252("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(Utf8ToCp1252("\xFF"));
  EXPECT_EQ(Utf8ToCp1252(""), "");
}

TEST(Cp1252Test, FoldsCaseAsWindows95DoesForTheWholeCodePage) {
  EXPECT_TRUE(EqualsIgnoreCaseCp1252("\xFCn\xEF", "\xDCN\xCF"));  // ünï, ÜNÏ
  EXPECT_TRUE(EqualsIgnoreCaseCp1252("\x9A\x9C\x9E\xFF", "\x8A\x8C\x8E\x9F"));
  EXPECT_TRUE(EqualsIgnoreCaseCp1252("Ann", "aNN"));
  // Division and multiplication signs, sharp s and micro sign have no other case.
  EXPECT_FALSE(EqualsIgnoreCaseCp1252("\xF7", "\xD7"));
  EXPECT_EQ(UpperCp1252('\xDF'), '\xDF');
  EXPECT_EQ(UpperCp1252('\xB5'), '\xB5');
  EXPECT_FALSE(EqualsIgnoreCaseCp1252("ann", "anne"));
}

}  // namespace
}  // namespace tarnwick::test
