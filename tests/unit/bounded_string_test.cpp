#include "support/bounded_string.h"

#include "support/guarded_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace pexil {
namespace {

using testing::GuardedBuffer;

int Format(char* buffer, int size, int maxCount, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = kBoundedStrings.Format(buffer, size, maxCount, format, args);
    va_end(args);
    return result;
}

TEST(BoundedCopy, CopiesWhatFitsAndLeavesTheRestUntouched) {
    GuardedBuffer<8> buffer("old");
    EXPECT_EQ(kBoundedOk, kBoundedStrings.Copy(buffer.data(), 8, "1234567"));
    EXPECT_EQ("1234567", buffer.str());

    GuardedBuffer<8> keep("old");
    EXPECT_EQ(kBoundedTooLong, kBoundedStrings.Copy(keep.data(), 8, "12345678"));
    EXPECT_EQ("old", keep.str());
    EXPECT_EQ('\0', keep.at(3));
    EXPECT_EQ(GuardedBuffer<8>::kFill, keep.at(4));  // not even the tail was touched
    EXPECT_TRUE(buffer.guardIntact());
    EXPECT_TRUE(keep.guardIntact());

    std::string huge(1000, 'x');
    GuardedBuffer<260> path("p");
    EXPECT_EQ(kBoundedTooLong, kBoundedStrings.Copy(path.data(), 260, huge.c_str()));
    EXPECT_EQ("p", path.str());
    EXPECT_EQ(kBoundedOk, kBoundedStrings.Copy(path.data(), 260, huge.substr(0, 259).c_str()));
    EXPECT_EQ(259u, path.str().size());
    EXPECT_TRUE(path.guardIntact());
}

TEST(BoundedCopy, InvalidArguments) {
    GuardedBuffer<8> buffer("old");
    EXPECT_EQ(kBoundedTooLong, kBoundedStrings.Copy(buffer.data(), 0, "a"));
    EXPECT_EQ(kBoundedInvalid, kBoundedStrings.Copy(buffer.data(), -1, "a"));
    EXPECT_EQ(kBoundedInvalid, kBoundedStrings.Copy(buffer.data(), 8, nullptr));
    EXPECT_EQ(kBoundedInvalid, kBoundedStrings.Copy(nullptr, 8, "a"));
    EXPECT_EQ(kBoundedTooLong, kBoundedStrings.Copy(nullptr, 0, "a"));
    EXPECT_EQ("old", buffer.str());
}

TEST(BoundedAppend, AppendsOnlyWhenTheWholeResultFits) {
    GuardedBuffer<7> fits("abc");
    EXPECT_EQ(kBoundedOk, kBoundedStrings.Append(fits.data(), 7, "def"));
    EXPECT_EQ("abcdef", fits.str());

    GuardedBuffer<6> tight("abc");
    EXPECT_EQ(kBoundedTooLong, kBoundedStrings.Append(tight.data(), 6, "def"));
    EXPECT_EQ("abc", tight.str());
    EXPECT_EQ(GuardedBuffer<6>::kFill, tight.at(4));

    EXPECT_EQ(kBoundedTooLong, kBoundedStrings.Append(fits.data(), 0, "x"));
    EXPECT_EQ(kBoundedInvalid, kBoundedStrings.Append(fits.data(), -5, "x"));
    EXPECT_EQ(kBoundedInvalid, kBoundedStrings.Append(fits.data(), 7, nullptr));
    EXPECT_EQ(kBoundedInvalid, kBoundedStrings.Append(nullptr, 7, "x"));
    EXPECT_EQ("abcdef", fits.str());
    EXPECT_TRUE(fits.guardIntact());
    EXPECT_TRUE(tight.guardIntact());
}

TEST(BoundedAppend, UnterminatedDestinationIsNeverReadOrWrittenPastItsSize) {
    GuardedBuffer<4> full("abcd");  // four characters, no terminator inside the size
    EXPECT_EQ(kBoundedTooLong, kBoundedStrings.Append(full.data(), 4, ""));
    EXPECT_TRUE(full.guardIntact());
}

TEST(BoundedCopyN, CopiesExactlyCountCharacters) {
    GuardedBuffer<4> buffer("zz");
    EXPECT_EQ(kBoundedOk, kBoundedStrings.CopyN(buffer.data(), 4, "abcdef", 3));
    EXPECT_EQ("abc", buffer.str());

    GuardedBuffer<4> tooMany("zz");
    EXPECT_EQ(kBoundedInvalid, kBoundedStrings.CopyN(tooMany.data(), 4, "abcdef", 4));
    EXPECT_EQ("", tooMany.str());  // emptied, unlike Copy

    GuardedBuffer<4> untouched("zz");
    EXPECT_EQ(kBoundedInvalid, kBoundedStrings.CopyN(untouched.data(), 0, "abcdef", 3));
    EXPECT_EQ(kBoundedInvalid, kBoundedStrings.CopyN(untouched.data(), 4, "abcdef", 0));
    EXPECT_EQ(kBoundedInvalid, kBoundedStrings.CopyN(untouched.data(), 4, nullptr, 2));
    EXPECT_EQ(kBoundedInvalid, kBoundedStrings.CopyN(nullptr, 4, "abc", 2));
    EXPECT_EQ("zz", untouched.str());

    // A shorter source is padded with zero bytes up to count, as strncpy does.
    GuardedBuffer<8> padded("xxxxxxx");
    EXPECT_EQ(kBoundedOk, kBoundedStrings.CopyN(padded.data(), 8, "ab", 5));
    EXPECT_EQ(std::string("ab\0\0\0\0x", 7), std::string(padded.data(), 7));
    EXPECT_TRUE(buffer.guardIntact());
    EXPECT_TRUE(tooMany.guardIntact());
    EXPECT_TRUE(padded.guardIntact());
}

TEST(BoundedFormat, CutsToTheEffectiveCountAndSaysSo) {
    GuardedBuffer<4> cut;
    EXPECT_EQ(-1, Format(cut.data(), 4, -1, "%s", "abcdef"));
    EXPECT_EQ("abc", cut.str());

    GuardedBuffer<4> limited;
    EXPECT_EQ(-1, Format(limited.data(), 4, 2, "%s", "abcdef"));
    EXPECT_EQ("ab", limited.str());

    GuardedBuffer<4> fits;
    EXPECT_EQ(2, Format(fits.data(), 4, -1, "%s", "ab"));
    EXPECT_EQ("ab", fits.str());

    GuardedBuffer<4> exact;
    EXPECT_EQ(3, Format(exact.data(), 4, -1, "%d", 123));
    EXPECT_EQ("123", exact.str());

    // A maximum count larger than the buffer is limited by the buffer.
    GuardedBuffer<4> larger;
    EXPECT_EQ(-1, Format(larger.data(), 4, 1024, "%s", "abcdef"));
    EXPECT_EQ("abc", larger.str());

    std::string huge(1000, 'y');
    GuardedBuffer<260> path;
    EXPECT_EQ(-1, Format(path.data(), 260, -1, "%s", huge.c_str()));
    EXPECT_EQ(std::string(259, 'y'), path.str());
    for (auto* b : {&cut, &limited, &fits, &exact, &larger})
        EXPECT_TRUE(b->guardIntact());
    EXPECT_TRUE(path.guardIntact());
}

TEST(BoundedFormat, InvalidArgumentsWriteNothing) {
    GuardedBuffer<8> buffer("keep");
    EXPECT_EQ(-1, Format(buffer.data(), 0, -1, "%s", "x"));
    EXPECT_EQ(-1, Format(buffer.data(), -3, -1, "%s", "x"));
    EXPECT_EQ(-1, Format(buffer.data(), 8, 0, "%s", "x"));
    EXPECT_EQ(-1, Format(buffer.data(), 8, -2, "%s", "x"));
    EXPECT_EQ(-1, Format(buffer.data(), 8, -1, nullptr));
    EXPECT_EQ(-1, Format(nullptr, 8, -1, "%s", "x"));
    EXPECT_EQ("keep", buffer.str());
}

}  // namespace
}  // namespace pexil
