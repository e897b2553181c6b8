#include "support/text.h"

#include "support/guarded_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace pexil {
namespace {

using testing::GuardedBuffer;

TEST(IsBlank, OnlySpacesAndTabsAreBlank) {
    EXPECT_EQ(1, IsBlank(nullptr));
    EXPECT_EQ(1, IsBlank(""));
    EXPECT_EQ(1, IsBlank(" \t \t"));
    EXPECT_EQ(0, IsBlank(" \t x"));
    EXPECT_EQ(0, IsBlank("\r"));
}

TEST(TrimBlanks, StripsBlanksAndTabsAtBothEnds) {
    GuardedBuffer<260> buffer("old");
    EXPECT_EQ(1, TrimBlanks("  \tD:\\Program Files\\x.dll \t", buffer.data(), 260));
    EXPECT_EQ("D:\\Program Files\\x.dll", buffer.str());
    EXPECT_EQ(0, TrimBlanks("   ", buffer.data(), 260));
    EXPECT_EQ("", buffer.str());
    EXPECT_EQ(1, TrimBlanks("a \t b", buffer.data(), 260));
    EXPECT_EQ("a \t b", buffer.str());

    // A trimmed text of 260 characters does not fit a 260-byte buffer: empty.
    const std::string exact(260, 'p');
    EXPECT_EQ(0, TrimBlanks((" " + exact + " ").c_str(), buffer.data(), 260));
    EXPECT_EQ("", buffer.str());
    EXPECT_EQ(0, TrimBlanks(exact.c_str(), buffer.data(), 260));
    EXPECT_EQ("", buffer.str());
    EXPECT_EQ(1, TrimBlanks(("\t" + exact.substr(1)).c_str(), buffer.data(), 260));
    EXPECT_EQ(259u, buffer.str().size());
    EXPECT_TRUE(buffer.guardIntact());

    // Only the first ten bytes: "NotUseDefaultDllPath" values of ten or more characters.
    GuardedBuffer<10> flag("x");
    EXPECT_EQ(0, TrimBlanks("1234567890", flag.data(), 10));
    EXPECT_EQ("", flag.str());
    EXPECT_EQ(0, TrimBlanks(nullptr, flag.data(), 10));
    EXPECT_TRUE(flag.guardIntact());
}

TEST(TrimSpaces, StripsSpacesOnlyAndMayWorkInPlace) {
    GuardedBuffer<16> buffer;
    EXPECT_EQ(3, TrimSpaces("\t a ", buffer.data(), 16));
    EXPECT_EQ("\t a", buffer.str());

    char inPlace[] = "   moved  ";
    EXPECT_EQ(5, TrimSpaces(inPlace, inPlace, sizeof(inPlace)));
    EXPECT_STREQ("moved", inPlace);

    EXPECT_EQ(0, TrimSpaces("    ", buffer.data(), 16));
    EXPECT_EQ("", buffer.str());
    GuardedBuffer<4> small("xyz");
    EXPECT_EQ(0, TrimSpaces(" abcd ", small.data(), 4));  // 4 characters do not fit 4 bytes
    EXPECT_EQ("", small.str());

    GuardedBuffer<4> untouched("xyz");
    EXPECT_EQ(0, TrimSpaces(nullptr, untouched.data(), 4));
    EXPECT_EQ(0, TrimSpaces("a", nullptr, 4));
    EXPECT_EQ(0, TrimSpaces("a", untouched.data(), 0));
    EXPECT_EQ("xyz", untouched.str());
    EXPECT_TRUE(buffer.guardIntact());
    EXPECT_TRUE(small.guardIntact());
}

TEST(IsEmptyAfterTrim, TabsAreCharactersHere) {
    EXPECT_EQ(1, IsEmptyAfterTrim(""));
    EXPECT_EQ(1, IsEmptyAfterTrim("    "));
    EXPECT_EQ(1, IsEmptyAfterTrim(nullptr));
    EXPECT_EQ(0, IsEmptyAfterTrim("\t"));
    EXPECT_EQ(0, IsEmptyAfterTrim("  x "));
}

TEST(IsEmptyAfterTrim, LongTextsAreJudgedWhole) {
    // Longer than the 1024-byte buffer a trimmed copy once went into.
    EXPECT_EQ(0, IsEmptyAfterTrim((" " + std::string(2000, 'x') + " ").c_str()));
    EXPECT_EQ(1, IsEmptyAfterTrim(std::string(2000, ' ').c_str()));
}

}  // namespace
}  // namespace pexil
