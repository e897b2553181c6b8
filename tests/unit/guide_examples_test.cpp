// The guides show the example sources (docs/examples) verbatim: each
// "<!-- example: PATH -->" line is followed by a fenced block holding exactly
// that file, which the package test builds and runs.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Read(const std::string& relative) {
    std::ifstream in(std::string(PEXIL_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The files a guide shows, in order; each block is checked against its file.
std::vector<std::string> CheckExamples(const std::string& guide) {
    const std::string text = Read(guide);
    const std::string marker = "<!-- example: ";
    std::vector<std::string> shown;
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        const size_t nameEnd = text.find(" -->\n", at);
        if (nameEnd == std::string::npos) {
            ADD_FAILURE() << guide << ": unterminated marker";
            break;
        }
        const std::string path = text.substr(at + marker.size(), nameEnd - at - marker.size());
        shown.push_back(path);
        const size_t fence = nameEnd + 5;
        const size_t bodyStart = text.find('\n', fence) + 1;
        const size_t bodyEnd = text.find("\n```\n", bodyStart);
        if (text.compare(fence, 3, "```") != 0 || bodyEnd == std::string::npos) {
            ADD_FAILURE() << guide << ": no fenced block after the marker for " << path;
            continue;
        }
        const std::string file = Read(path);
        EXPECT_FALSE(file.empty()) << path;
        EXPECT_EQ(file, text.substr(bodyStart, bodyEnd + 1 - bodyStart))
            << guide << " shows " << path << " other than it is";
    }
    return shown;
}

TEST(GuideExamples, TheGuidesShowTheBuiltExamplesVerbatim) {
    EXPECT_EQ((std::vector<std::string>{"docs/examples/CMakeLists.txt", "docs/examples/Makefile",
                                        "docs/examples/Pexil.ini", "docs/examples/tally_host.cpp",
                                        "tests/package/expected_host_output.txt"}),
              CheckExamples("docs/host-guide.md"));
    EXPECT_EQ((std::vector<std::string>{"docs/examples/tally.h", "docs/examples/tally_module.cpp",
                                        "docs/examples/CMakeLists.txt"}),
              CheckExamples("docs/module-guide.md"));
}

}  // namespace
