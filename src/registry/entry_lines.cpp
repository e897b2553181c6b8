#include "registry/entry_lines.h"

#include "registry/registry_rules.h"

#include <cstring>

namespace pexil {
namespace {

// A quoted line is cut to this many characters.
constexpr size_t kShownLength = 80;

std::string Quoted(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    if (end - begin > kShownLength) return "\"" + text.substr(begin, kShownLength) + "...\"";
    return "\"" + text.substr(begin, end - begin) + "\"";
}

// "line 7 of FILE (\"the line\")"; the file left out when empty.
std::string At(const EntryLines::Line& line, const std::string& file = std::string()) {
    return "line " + std::to_string(line.number) + (file.empty() ? "" : " of " + file) + " (" +
           Quoted(line.text) + ")";
}

}  // namespace

void EntryLines::Read(const PathBase& base, const char* registryFilePath) {
    ComponentRegistry registry(base);
    registry.LoadFile("", registryFilePath, *this);
}

void EntryLines::OnText(const char* text, size_t size) {
    text_.assign(text, size);
}

void EntryLines::OnLine(const char* text, size_t offset, size_t length) {
    if (current_.number == 0) current_.number = 1;
    current_.number += registry::CountLineEnds(text_.data(), text_.size(), counted_, offset);
    counted_ = offset;
    current_.text.assign(text, ::strnlen(text, length));
}

void EntryLines::OnHeader(const char*, Header outcome, uint32_t componentID, const char*) {
    if (outcome == Header::LogDefault || outcome == Header::DefaultValue) {
        lastOtherHeader_ = current_;
        return;
    }
    if (outcome != Header::Component) return;
    lastOtherHeader_ = Line();
    // A header of the ID the parser is in continues that section.
    if (componentID == componentID_ && currentID_ != componentID_) {
        sectionStart_ = current_;
        if (firstHeader_.number == 0) firstHeader_ = current_;
    }
    currentID_ = componentID;
}

void EntryLines::OnKey(const char*, const char* value, Keyword keyword, Section, bool) {
    if (keyword != Keyword::Dll) return;
    pendingDll_ = current_;
    pendingDllName_ = value;
    pendingDllUnder_ = currentID_ != 0 ? lastOtherHeader_ : Line();
}

void EntryLines::OnStore(uint32_t componentID, bool) {
    if (componentID == componentID_) {
        keptHeader_ = sectionStart_;
        dll_ = pendingDll_;
        dllName_ = pendingDllName_;
        dllUnder_ = pendingDllUnder_;
    }
    // The parser starts the next entry empty.
    pendingDll_ = Line();
    pendingDllName_.clear();
    pendingDllUnder_ = Line();
}

std::string EntryLines::Describe(const std::string& file) const {
    if (keptHeader_.number == 0) return "";
    std::string target;  // " to NAME", and where the DLL= line stands
    if (dll_.number != 0) {
        target = " to " + dllName_;
        if (dllUnder_.number != 0) {
            target += " (it stands under the " + Quoted(dllUnder_.text) + " header of line " +
                      std::to_string(dllUnder_.number) +
                      ", but a DLL= line belongs to the component section above it)";
        }
    }
    if (keptHeader_.number != firstHeader_.number) {
        const bool commentLike = registry::LooksLikeComment(keptHeader_.text.c_str());
        return At(keptHeader_, file) + " starts its section anew" +
               (commentLike ? " (a line that holds a header is a header, whatever stands before "
                              "its '[': registry files have no comments)"
                            : "") +
               ", and that section, which " +
               (dll_.number == 0 ? std::string("has no DLL= line") : At(dll_) + " binds" + target) +
               ", replaces the one of line " + std::to_string(firstHeader_.number) + " as a whole";
    }
    if (dll_.number == 0) {
        return "its section at line " + std::to_string(keptHeader_.number) + " of " + file +
               " has no DLL= line";
    }
    return At(dll_, file) + " binds it" + target;
}

}  // namespace pexil
