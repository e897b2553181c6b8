#include "json_writer.h"

#include "output_text.h"

#include <cstdio>

namespace pexil::tool {

void JsonWriter::Indent() {
    out_.append(2 * empty_.size(), ' ');
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (empty_.empty()) return;
    if (!empty_.back()) out_ += ',';
    out_ += '\n';
    empty_.back() = false;
    Indent();
}

// Registry files are bytes in no particular encoding: bytes that do not form
// well-formed UTF-8 (overlong forms and surrogates are none) are written as
// the code points of the same value, so that the output is valid UTF-8 and
// valid JSON. Control characters, C1 (U+0080 to U+009F) too, and the
// bidirectional controls are escaped.
void JsonWriter::Quote(const std::string& text) {
    out_ += '"';
    char escape[8];
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t codePoint = 0;
        const size_t length = Utf8Sequence(text, i, &codePoint);
        if (length == 0) codePoint = c;  // a byte of no UTF-8 sequence
        if (codePoint == '"' || codePoint == '\\') {
            out_ += '\\';
            out_ += static_cast<char>(c);
        } else if (codePoint == '\n') {
            out_ += "\\n";
        } else if (codePoint == '\r') {
            out_ += "\\r";
        } else if (codePoint == '\t') {
            out_ += "\\t";
        } else if (length == 0 || codePoint < 0x20 || (codePoint >= 0x7f && codePoint <= 0x9f) ||
                   IsBidiControl(codePoint)) {
            std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(codePoint));
            out_ += escape;
        } else {
            out_.append(text, i, length);
        }
        i += length != 0 ? length : 1;
    }
    out_ += '"';
}

JsonWriter& JsonWriter::BeginObject() {
    BeforeValue();
    out_ += '{';
    empty_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    const bool wasEmpty = empty_.back();
    empty_.pop_back();
    if (!wasEmpty) {
        out_ += '\n';
        Indent();
    }
    out_ += '}';
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    BeforeValue();
    out_ += '[';
    empty_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    const bool wasEmpty = empty_.back();
    empty_.pop_back();
    if (!wasEmpty) {
        out_ += '\n';
        Indent();
    }
    out_ += ']';
    return *this;
}

JsonWriter& JsonWriter::Key(const std::string& key) {
    BeforeValue();
    Quote(key);
    out_ += ": ";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(const std::string& value) {
    BeforeValue();
    Quote(value);
    return *this;
}

JsonWriter& JsonWriter::Number(int64_t value) {
    BeforeValue();
    out_ += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    out_ += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    out_ += "null";
    return *this;
}

JsonWriter& JsonWriter::Strings(const std::vector<std::string>& values) {
    BeginArray();
    for (const std::string& value : values)
        String(value);
    return EndArray();
}

}  // namespace pexil::tool
