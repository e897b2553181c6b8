// The guides and the README show the example sources verbatim: each
// "<!-- example: PATH -->" line is followed by a fenced block holding exactly
// that file, each "<!-- excerpt: PATH -->" line by one holding whole lines of
// it; the package test builds the examples and runs their hosts. Every code
// block (C++, CMake, ini) is one of them. And every message the framework, the
// module code and Create<T> can print has a row in the troubleshooting guide.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
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

// The text's lines.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// "<!-- example: PATH -->" or "<!-- excerpt: PATH -->": the path, and whether
// the block is the whole file; "" for any other line.
std::string Marker(const std::string& line, bool* whole) {
    for (const char* kind : {"example", "excerpt"}) {
        const std::string start = std::string("<!-- ") + kind + ": ";
        if (line.compare(0, start.size(), start) == 0 && line.size() > start.size() + 4 &&
            line.compare(line.size() - 4, 4, " -->") == 0) {
            *whole = std::string(kind) == "example";
            return line.substr(start.size(), line.size() - start.size() - 4);
        }
    }
    return "";
}

// The files a guide shows, in order; each block is checked against its file.
std::vector<std::string> CheckExamples(const std::string& guide) {
    const std::vector<std::string> lines = Lines(Read(guide));
    std::vector<std::string> shown;
    for (size_t i = 0; i < lines.size(); ++i) {
        bool whole = false;
        const std::string path = Marker(lines[i], &whole);
        if (path.empty()) continue;
        shown.push_back(path);
        if (i + 1 >= lines.size() || lines[i + 1].compare(0, 3, "```") != 0) {
            ADD_FAILURE() << guide << ": no fenced block after the marker for " << path;
            continue;
        }
        std::string body;
        size_t end = i + 2;
        for (; end < lines.size() && lines[end] != "```"; ++end)
            body += lines[end] + "\n";
        const std::string file = Read(path);
        EXPECT_FALSE(file.empty()) << path;
        if (whole) {
            EXPECT_EQ(file, body) << guide << " shows " << path << " other than it is";
        } else {
            EXPECT_NE(std::string::npos, ("\n" + file).find("\n" + body))
                << guide << " shows lines of " << path << " that it does not hold:\n"
                << body;
        }
    }
    return shown;
}

TEST(GuideExamples, TheGuidesShowTheBuiltExamplesVerbatim) {
    EXPECT_EQ((std::vector<std::string>{
                  "docs/examples/readme/clock_host.cpp", "docs/examples/readme/Pexil.ini",
                  "docs/examples/readme/clock.h", "docs/examples/readme/clock.cpp",
                  "docs/examples/readme/CMakeLists.txt"}),
              CheckExamples("README.md"));
    EXPECT_EQ((std::vector<std::string>{"docs/examples/CMakeLists.txt", "docs/examples/Makefile",
                                        "docs/examples/Pexil.ini", "docs/examples/tally_host.cpp",
                                        "tests/package/expected_host_output.txt"}),
              CheckExamples("docs/host-guide.md"));
    EXPECT_EQ((std::vector<std::string>{
                  "docs/examples/tally.h", "examples/modules/settings/configuration.cpp",
                  "examples/modules/settings/configuration.cpp", "docs/examples/tally_module.cpp",
                  "docs/examples/tally_module.cpp", "docs/examples/tally_module.cpp",
                  "docs/examples/CMakeLists.txt"}),
              CheckExamples("docs/module-guide.md"));
    EXPECT_EQ((std::vector<std::string>{"docs/examples/registry-file.ini"}),
              CheckExamples("docs/registry-file.md"));
}

// README.md and docs/*.md.
std::vector<std::string> Documents() {
    std::vector<std::string> documents = {"README.md"};
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(PEXIL_SOURCE_DIR) + "/docs")) {
        if (entry.path().extension() == ".md") {
            documents.push_back("docs/" + entry.path().filename().string());
        }
    }
    return documents;
}

// No code block that nothing builds; no interface whose destructor is public;
// no ini file that takes ';' or '#' lines for comments.
TEST(GuideExamples, EveryCodeBlockIsABuiltFile) {
    std::vector<std::string> files;
    for (const std::string& document : Documents()) {
        const std::vector<std::string> lines = Lines(Read(document));
        bool inBlock = false;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].compare(0, 3, "```") != 0) continue;
            inBlock = !inBlock;
            const std::string language = lines[i].substr(3);
            if (!inBlock || (language != "cpp" && language != "cmake" && language != "ini")) {
                continue;
            }
            bool whole = false;
            const std::string path = i > 0 ? Marker(lines[i - 1], &whole) : "";
            if (path.empty()) {
                ADD_FAILURE() << document << ":" << i + 1 << ": a " << language
                              << " block that is no example or excerpt of a built file";
            } else {
                files.push_back(path);
            }
        }
    }
    files.push_back("docs/examples/Pexil.ini");
    files.push_back("examples/layout/Pexil.ini");
    files.push_back("examples/layout/plugins.ini");
    files.push_back("examples/layout/system/Pexil.ini");
    for (const std::string& path : files) {
        const std::string file = Read(path);
        if (path.size() > 4 && path.compare(path.size() - 4, 4, ".ini") == 0) {
            for (const std::string& line : Lines(file)) {
                const size_t first = line.find_first_not_of(" \t");
                EXPECT_FALSE(first != std::string::npos &&
                             (line[first] == ';' || line[first] == '#'))
                    << path << ": \"" << line
                    << "\" looks like a comment, and registry files have none";
            }
        }
        // "class INAME : public pexil::I...": its body needs a protected destructor.
        for (size_t at = file.find("class I"); at != std::string::npos;
             at = file.find("class I", at + 1)) {
            const size_t nameEnd = file.find(' ', at + 6);
            const std::string name = file.substr(at + 6, nameEnd - at - 6);
            if (file.compare(nameEnd, 18, " : public pexil::I") != 0) continue;
            const std::string body = file.substr(at, file.find("\n};", at) - at);
            EXPECT_NE(std::string::npos, body.find("protected:\n    ~" + name + "() = default;"))
                << path << ": the interface " << name << " has no protected destructor";
        }
    }
}

// A message as the sources write it: its text with its fixed prefix, and
// where it stands.
struct Message {
    std::string text;
    std::string where;
};

// The string literals of a source file, adjacent ones joined (a PRI... macro
// between them ends a conversion), with the position of each run and whether
// it is the first argument of Explain(...).
struct Literal {
    std::string text;
    size_t at;
    bool explained;
};

std::vector<Literal> Literals(const std::string& source) {
    std::vector<Literal> runs;
    bool joining = false;
    bool afterExplain = false;
    const size_t size = source.size();
    for (size_t i = 0; i < size;) {
        const char c = source[i];
        if (source.compare(i, 2, "//") == 0) {
            i = std::min(source.find('\n', i), size);
            continue;
        }
        if (source.compare(i, 2, "/*") == 0) {
            const size_t end = source.find("*/", i + 2);
            i = end == std::string::npos ? size : end + 2;
            continue;
        }
        if (c == '\'') {
            size_t j = i + 1;
            while (j < size && source[j] != '\'')
                j += source[j] == '\\' ? 2 : 1;
            i = j + 1;
            joining = false;
            continue;
        }
        if (c == '"') {
            std::string text;
            size_t j = i + 1;
            for (; j < size && source[j] != '"'; ++j) {
                if (source[j] != '\\') {
                    text += source[j];
                    continue;
                }
                const char escaped = source[++j];
                text += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
            }
            if (joining) {
                runs.back().text += text;
            } else {
                runs.push_back(Literal{text, i, afterExplain});
            }
            joining = true;
            afterExplain = false;
            i = j + 1;
            continue;
        }
        if (c == ' ' || c == '\n' || c == '\t') {
            ++i;
            continue;
        }
        if (source.compare(i, 3, "PRI") == 0 && joining) {
            while (std::isalnum(static_cast<unsigned char>(source[i])) != 0)
                ++i;
            runs.back().text += "x";  // the literal before holds the "%0*" or "%08"
            continue;
        }
        const bool word =
            i == 0 ||
            !(std::isalnum(static_cast<unsigned char>(source[i - 1])) != 0 || source[i - 1] == '_');
        afterExplain = word && source.compare(i, 8, "Explain(") == 0 ? true
                       : c == '(' || c == ','                        ? afterExplain
                                                                     : false;
        if (afterExplain && source.compare(i, 8, "Explain(") == 0) {
            i += 8;
        } else {
            ++i;
        }
        joining = false;
    }
    return runs;
}

std::vector<Message> FrameworkMessages() {
    std::vector<Message> messages;
    const std::string root = PEXIL_SOURCE_DIR;
    for (const std::string& directory : {std::string("/src"), std::string("/include/pexil")}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root + directory)) {
            const std::string extension = entry.path().extension().string();
            if (extension != ".cpp" && extension != ".h") continue;
            const std::string relative = entry.path().string().substr(root.size() + 1);
            for (const Literal& literal : Literals(Read(relative))) {
                if (literal.explained) {
                    messages.push_back({"Pexil[Explain]: " + literal.text, relative});
                } else if (literal.text.compare(0, 13, "[Pexil_Error]") == 0 ||
                           literal.text.compare(0, 12, "Pexil[Error]") == 0) {
                    messages.push_back({literal.text, relative});
                }
            }
        }
    }
    return messages;
}

// The message's fixed parts, between its conversions, without line ends.
std::vector<std::string> FixedParts(const std::string& message) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] != '%' || message.compare(i, 2, "%%") == 0) {
            if (message[i] != '\n') parts.back() += message[i];
            i += message.compare(i, 2, "%%") == 0 ? 1 : 0;
            continue;
        }
        // A conversion: flags, width, precision, length, then its letter.
        size_t end = i + 1;
        while (end < message.size() && std::strchr("-+ #0123456789.*lzh", message[end]) != nullptr)
            ++end;
        i = end;
        parts.emplace_back();
    }
    std::vector<std::string> fixed;
    for (const std::string& part : parts) {
        if (part.find_first_not_of(' ') != std::string::npos) fixed.push_back(part);
    }
    return fixed;
}

TEST(Troubleshooting, EveryMessageHasARow) {
    std::vector<std::string> rows;
    std::istringstream guide(Read("docs/troubleshooting.md"));
    for (std::string line; std::getline(guide, line);) {
        if (line.compare(0, 2, "| ") != 0) continue;
        for (size_t at = line.find("\\|"); at != std::string::npos; at = line.find("\\|", at))
            line.erase(at, 1);
        rows.push_back(line);
    }
    const std::vector<Message> messages = FrameworkMessages();
    // The collection itself must not come back short: a prefix of each kind.
    int kinds[3] = {0, 0, 0};
    for (const Message& message : messages) {
        kinds[message.text[0] == '['                                                       ? 0
              : message.text[5] == '[' && message.text[6] == 'E' && message.text[7] == 'x' ? 2
                                                                                           : 1]++;
        const std::vector<std::string> parts = FixedParts(message.text);
        bool found = false;
        for (const std::string& row : rows) {
            size_t at = 0;
            bool all = true;
            for (const std::string& part : parts) {
                at = row.find(part, at);
                if (at == std::string::npos) {
                    all = false;
                    break;
                }
                at += part.size();
            }
            if (all) {
                found = true;
                break;
            }
        }
        EXPECT_TRUE(found) << message.where << ": no row of docs/troubleshooting.md holds\n  "
                           << message.text;
    }
    EXPECT_GE(kinds[0], 10);
    EXPECT_GE(kinds[1], 10);
    EXPECT_GE(kinds[2], 20);
}

}  // namespace
