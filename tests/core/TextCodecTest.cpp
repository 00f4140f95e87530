#include <gtest/gtest.h>

#include "platform/TextCodec.h"

namespace {

// "用户名" in GBK.
const std::string kUserNameGbk = "\xD3\xC3\xBB\xA7\xC3\xFB";

TEST(TextCodec, GbkRoundTripOfChineseAndAscii)
{
    wxString text = bcx::FromGbk(kUserNameGbk + "abc");
    EXPECT_EQ(text, wxString::FromUTF8("用户名abc"));
    EXPECT_EQ(bcx::ToGbk(text), kUserNameGbk + "abc");
    EXPECT_EQ(bcx::Utf8ToGbk("用户名"), kUserNameGbk);
}

TEST(TextCodec, InvalidBytesBecomeReplacementCharactersNotAnEmptyLine)
{
    // A lead byte followed by a byte that cannot trail it, a stray 0xFF, and a lone lead byte at the end.
    std::string bytes = std::string("ok ") + "\xD3" + " x" + "\xFF" + kUserNameGbk + "\xD3";
    wxString text = bcx::FromGbk(bytes);
    ASSERT_FALSE(text.empty());
    EXPECT_TRUE(text.StartsWith(wxS("ok ")));
    EXPECT_NE(text.Find(wxString::FromUTF8("用户名")), wxNOT_FOUND);
    EXPECT_EQ(text.Last(), wxUniChar(0xFFFD));
    // The ASCII text after the bad lead byte survives.
    EXPECT_NE(text.Find(wxS(" x")), wxNOT_FOUND);
}

TEST(TextCodec, UnmappableCharactersBecomeQuestionMarks)
{
    // U+1F600 and U+00E9 have no GBK form in the basic table; the Chinese text around them is kept.
    wxString text = wxString::FromUTF8("名\xF0\x9F\x98\x80-\xC3\xA9!");
    std::string bytes = bcx::ToGbk(text);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xC3\xFB"));
    EXPECT_NE(bytes.find('?'), std::string::npos);
    EXPECT_EQ(bytes.back(), '!');
}

TEST(TextCodec, AsciiCaseFoldingLeavesOtherBytesAlone)
{
    EXPECT_TRUE(bcx::AsciiEqualsNoCase("SpEeD", "speed"));
    EXPECT_FALSE(bcx::AsciiEqualsNoCase("speed", "speeds"));
    // GBK bytes are not folded.
    EXPECT_EQ(bcx::AsciiLower("A\xC3\xFB"), std::string("a\xC3\xFB"));
}

} // namespace
