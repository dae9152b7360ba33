#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cwctype>
#include <filesystem>
#include <string>

#include "framework/PathUtils.h"
#include "framework/WideString.h"

namespace {

TEST(PathUtils, ExtensionOfFollowsTheLastSeparator) {
    EXPECT_EQ(extensionOf(u"dir.x\\file"), std::nullopt);
    EXPECT_EQ(extensionOf(u"dir\\file.webm"), 8u);
    EXPECT_EQ(extensionOf(u".hidden"), std::nullopt);
    EXPECT_EQ(extensionOf(u"dir/.hidden"), std::nullopt);
    EXPECT_EQ(extensionOf(u"dir\\.hidden.mbc"), 11u);
    EXPECT_EQ(extensionOf(u"a.b/c\\d.e/f"), std::nullopt) << "both separators count";
    EXPECT_EQ(extensionOf(u"/movies/archive.tar.gz"), 19u);
    EXPECT_EQ(extensionOf(u"file."), 4u);
    EXPECT_EQ(extensionOf(u"dir/"), std::nullopt);
    EXPECT_EQ(extensionOf(u""), std::nullopt);
    EXPECT_EQ(extensionOf(u"/動画/夏.ogv"), 5u);
}

class FullPath : public ::testing::Test {
protected:
    std::u16string cwd = fromUtf8(std::filesystem::current_path().string());
};

TEST_F(FullPath, ResolvesAgainstTheCurrentDirectoryWithoutTouchingFiles) {
    EXPECT_EQ(fullPathOf(u"absent.mbc"), cwd + u"/absent.mbc");
    EXPECT_EQ(fullPathOf(u"./a//b/../c.png"), cwd + u"/a/c.png");
    EXPECT_EQ(fullPathOf(u"/x/./y/../../z/"), u"/z/");
    EXPECT_EQ(fullPathOf(u"/../../.."), u"/");
    EXPECT_EQ(fullPathOf(u"/音楽/曲.webm"), u"/音楽/曲.webm");
    EXPECT_EQ(fullPathOf(u""), std::nullopt);
    EXPECT_EQ(fullPathOf(std::u16string_view(u"a\0b", 3)), std::nullopt);
}

TEST_F(FullPath, BufferFormFitsOrWritesNothing) {
    const std::u16string expected = u"/data/clip.ogv";
    std::u16string buffer(expected.size() + 1, u'#');
    EXPECT_EQ(fullPathOf(u"/data/x/../clip.ogv", buffer.data(), buffer.size()), buffer.data());
    EXPECT_EQ(buffer, expected + u'\0') << "exact fit, terminated";

    std::u16string small(expected.size(), u'#');
    EXPECT_EQ(fullPathOf(u"/data/clip.ogv", small.data(), small.size()), nullptr);
    EXPECT_EQ(small, std::u16string(expected.size(), u'#')) << "untouched when too small";
    EXPECT_EQ(fullPathOf(nullptr, small.data(), small.size()), nullptr);
    EXPECT_EQ(fullPathOf(u"x", nullptr, 100), nullptr);
}

TEST(CompareNoCase, LowerCasesEveryScriptItCovers) {
    EXPECT_EQ(compareNoCase(u"Movie.WEBM", u"movie.webm"), 0);
    EXPECT_EQ(compareNoCase(u"ÉCOLE ÆØÅ", u"école æøå"), 0);
    EXPECT_EQ(compareNoCase(u"ΑΒΓΔ ΆΏ", u"αβγδ άώ"), 0);
    EXPECT_EQ(compareNoCase(u"ПРИВЕТ ЁЇ", u"привет ёї"), 0);
    EXPECT_EQ(compareNoCase(u"ＡＢＣ", u"ａｂｃ"), 0);
    EXPECT_NE(compareNoCase(u"×", u"÷"), 0) << "signs are not letters";
    EXPECT_LT(compareNoCase(u"abc", u"ABD"), 0);
    EXPECT_EQ(compareNoCase(u"ab", u"abc"), -int(u'c')) << "the shorter name ends first";
    EXPECT_GT(compareNoCase(u"abc", u"AB"), 0);
    EXPECT_EQ(compareNoCase(static_cast<LPCWSTR>(nullptr), u""), 0);
    EXPECT_LT(compareNoCase(static_cast<LPCWSTR>(nullptr), u"a"), 0);
}

// The fixed tables agree with the C library's full Unicode tables over the ranges they
// claim to cover.
TEST(CompareNoCase, TablesAgreeWithTheCLibrary) {
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (!utf8) GTEST_SKIP() << "no C.UTF-8 locale";
    const std::pair<char16_t, char16_t> ranges[] = {
        {0x0000, 0x017F}, {0x0386, 0x03CE}, {0x0400, 0x052F}, {0xFF00, 0xFF5E}};
    int checked = 0;
    for (auto [from, to] : ranges) {
        for (uint32_t c = from; c <= to; ++c) {
            auto expected = static_cast<char16_t>(towlower_l(static_cast<wint_t>(c), utf8));
            EXPECT_EQ(lowerCaseUnit(static_cast<char16_t>(c)), expected) << std::hex << "U+" << c;
            ++checked;
        }
    }
    freelocale(utf8);
    EXPECT_GT(checked, 700);
    EXPECT_EQ(lowerCaseUnit(0xD800), 0xD800) << "surrogates stay";
}

}  // namespace
