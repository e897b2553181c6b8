// The pexil command's readers and writers of what others wrote: the export
// table of an ELF or PE file (--no-load) must answer for any bytes without
// reading outside them; the text it shows a name in holds no control
// character; the JSON it writes one in is well-formed UTF-8 without one.
#include "export_table.h"
#include "fuzz_support.h"
#include "json_writer.h"
#include "output_text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using pexil::tool::ExportFound;

// Well-formed UTF-8 as Unicode's table of byte ranges gives it, written apart
// from the tool's own decoder.
bool WellFormed(const std::string& text) {
    auto in = [](unsigned char c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; };
    for (size_t i = 0; i < text.size();) {
        const auto at = [&](size_t k) {
            return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u;
        };
        const unsigned char c = at(0);
        size_t length = 0;
        if (c <= 0x7f) {
            length = 1;
        } else if (in(c, 0xc2, 0xdf) && in(at(1), 0x80, 0xbf)) {
            length = 2;
        } else if ((c == 0xe0 && in(at(1), 0xa0, 0xbf)) ||
                   ((in(c, 0xe1, 0xec) || in(c, 0xee, 0xef)) && in(at(1), 0x80, 0xbf)) ||
                   (c == 0xed && in(at(1), 0x80, 0x9f))) {
            if (!in(at(2), 0x80, 0xbf)) return false;
            length = 3;
        } else if ((c == 0xf0 && in(at(1), 0x90, 0xbf)) ||
                   (in(c, 0xf1, 0xf3) && in(at(1), 0x80, 0xbf)) ||
                   (c == 0xf4 && in(at(1), 0x80, 0x8f))) {
            if (!in(at(2), 0x80, 0xbf) || !in(at(3), 0x80, 0xbf)) return false;
            length = 4;
        } else {
            return false;
        }
        i += length;
    }
    return true;
}

bool IsControl(uint32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7f && codePoint <= 0x9f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<unsigned char> file(data, data + size);
    std::string problem;
    const ExportFound found = pexil::tool::FindExportIn(file, "CreateComponent", &problem);
    FUZZ_CHECK((found == ExportFound::NotAModule) == !problem.empty());

    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string shown = pexil::tool::Shown(text);
    for (size_t i = 0; i < shown.size();) {
        uint32_t codePoint = 0;
        const size_t length = pexil::tool::Utf8Sequence(shown, i, &codePoint);
        if (length == 0) codePoint = static_cast<unsigned char>(shown[i]);
        FUZZ_CHECK(!IsControl(codePoint) && !pexil::tool::IsBidiControl(codePoint));
        i += length != 0 ? length : 1;
    }

    pexil::tool::JsonWriter json;
    json.String(text);
    const std::string out = json.Text();
    FUZZ_CHECK(WellFormed(out));
    for (size_t i = 0; i + 1 < out.size();) {  // the last byte is the document's line end
        uint32_t codePoint = 0;
        const size_t length = pexil::tool::Utf8Sequence(out, i, &codePoint);
        FUZZ_CHECK(length != 0 && !IsControl(codePoint) && !pexil::tool::IsBidiControl(codePoint));
        i += length;
    }
    return 0;
}
