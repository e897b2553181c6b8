#include "support/format.h"

#include "support/guarded_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace pexil {
namespace {

using testing::GuardedBuffer;

TEST(FormatString, TerminatesTheLastByteAndReportsCutting) {
    GuardedBuffer<6> buffer;
    EXPECT_EQ(4, FormatString(buffer.data(), 6, "%s-%d", "ab", 7));
    EXPECT_EQ("ab-7", buffer.str());
    EXPECT_EQ('\0', buffer.at(5));

    GuardedBuffer<6> cut;
    EXPECT_EQ(-1, FormatString(cut.data(), 6, "%s", "abcdefgh"));
    EXPECT_EQ("abcde", cut.str());

    GuardedBuffer<6> untouched("keep");
    EXPECT_EQ(-1, FormatString(untouched.data(), 0, "%s", "x"));
    EXPECT_EQ(-1, FormatString(nullptr, 6, "%s", "x"));
    EXPECT_EQ("keep", untouched.str());
    EXPECT_TRUE(buffer.guardIntact());
    EXPECT_TRUE(cut.guardIntact());
}

TEST(FormatStringN, KeepsTheSmallerOfSizeAndMaximum) {
    GuardedBuffer<10> buffer;
    EXPECT_EQ(-1, FormatStringN(buffer.data(), 10, 3, "%s", "abcdef"));
    EXPECT_EQ("abc", buffer.str());
    EXPECT_EQ(-1, FormatStringN(buffer.data(), 4, 9, "%s", "abcdef"));
    EXPECT_EQ("abc", buffer.str());
    EXPECT_EQ(2, FormatStringN(buffer.data(), 10, 9, "%s", "ab"));
    EXPECT_EQ("ab", buffer.str());

    // Unlike the table's formatter, -1 is no "unlimited" here.
    GuardedBuffer<10> untouched("keep");
    EXPECT_EQ(-1, FormatStringN(untouched.data(), 10, -1, "%s", "x"));
    EXPECT_EQ(-1, FormatStringN(untouched.data(), 10, 0, "%s", "x"));
    EXPECT_EQ("keep", untouched.str());
    EXPECT_TRUE(buffer.guardIntact());
}

TEST(TryFormatString, FailsOnCuttingUnlessAllowedButAlwaysTerminates) {
    const std::string longText(300, 'z');
    GuardedBuffer<260> strict;
    EXPECT_EQ(0, TryFormatString(nullptr, strict.data(), 260, 0, "%s", longText.c_str()));
    EXPECT_EQ(std::string(259, 'z'), strict.str());

    GuardedBuffer<260> lenient;
    EXPECT_EQ(1, TryFormatString(nullptr, lenient.data(), 260, 1, "%s", longText.c_str()));
    EXPECT_EQ(std::string(259, 'z'), lenient.str());

    GuardedBuffer<260> fits;
    EXPECT_EQ(1, TryFormatString(nullptr, fits.data(), 260, 0, "%s%s.log", "D:\\L\\", "x"));
    EXPECT_EQ("D:\\L\\x.log", fits.str());

    GuardedBuffer<8> untouched("keep");
    EXPECT_EQ(0, TryFormatString(nullptr, untouched.data(), 0, 1, "%s", "x"));
    EXPECT_EQ(0, TryFormatString(nullptr, nullptr, 8, 1, "%s", "x"));
    EXPECT_EQ("keep", untouched.str());
    EXPECT_TRUE(strict.guardIntact());
    EXPECT_TRUE(lenient.guardIntact());
}

}  // namespace
}  // namespace pexil
