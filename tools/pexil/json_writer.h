// A small JSON writer for the --json output: objects and arrays indented by two
// spaces, one member or element per line.
#ifndef PEXIL_TOOLS_PEXIL_JSON_WRITER_H
#define PEXIL_TOOLS_PEXIL_JSON_WRITER_H

#include <stdint.h>

#include <string>
#include <vector>

namespace pexil::tool {

class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(const std::string& key);
    JsonWriter& String(const std::string& value);
    JsonWriter& Number(int64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();
    // An array of the strings.
    JsonWriter& Strings(const std::vector<std::string>& values);

    // The document, ended with a line feed.
    std::string Text() const { return out_ + "\n"; }

private:
    void BeforeValue();
    void Indent();
    void Quote(const std::string& text);

    std::string out_;
    std::vector<bool> empty_;  // per open container: nothing written into it yet
    bool afterKey_ = false;
};

}  // namespace pexil::tool

#endif
