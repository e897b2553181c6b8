#include "support/debug_print.h"

#include "platform/debug_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace pexil {
namespace {

std::string Capture(DebugChannel channel, const std::string& text) {
    platform::testing::DebugCapture capture;
    DebugPrintf(channel, "%s", text.c_str());
    return capture.Text();
}

TEST(DebugPrintf, EmitsTheMessageWholeWithNothingAdded) {
    platform::testing::DebugCapture capture;
    DebugPrintf(DebugChannel::ModuleEntry, "Pexil[Error]: ComponentID=%d CreatorID=%u", -1, 361u);
    DebugPrintf(DebugChannel::Binding, "[Pexil_Error] DLL Path:%s\n", "D:\\x.dll");
    EXPECT_EQ("Pexil[Error]: ComponentID=-1 CreatorID=361[Pexil_Error] DLL Path:D:\\x.dll\n",
              capture.Text());
}

TEST(DebugPrintf, EachChannelCutsLongMessagesAtItsOwnLimit) {
    const std::string longText(2000, 'm');
    EXPECT_EQ(std::string(1023, 'm'), Capture(DebugChannel::ModuleEntry, longText));
    EXPECT_EQ(std::string(1022, 'm'), Capture(DebugChannel::Locator, longText));
    EXPECT_EQ(std::string(1023, 'm'), Capture(DebugChannel::LoadedLocator, longText));
    EXPECT_EQ(std::string(1022, 'm'), Capture(DebugChannel::Binding, longText));
    // A message at the limit passes whole.
    EXPECT_EQ(std::string(1022, 'k'), Capture(DebugChannel::Locator, std::string(1022, 'k')));
}

}  // namespace
}  // namespace pexil
