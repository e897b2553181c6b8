// What the registry parser decides, line by line, for tools that explain a
// registry file (pexil inspect --lint) and for the explaining trace, which
// names the lines that left component 361 without the factory (EntryLines,
// reading the file again once such a lookup has failed). Both learn it from the
// parser itself, so they cannot drift apart. The factory's own LoadFile has no
// observer and compiles without a trace of one.
#ifndef PEXIL_REGISTRY_REGISTRY_OBSERVER_H
#define PEXIL_REGISTRY_REGISTRY_OBSERVER_H

#include <stddef.h>
#include <stdint.h>

namespace pexil {

class RegistryObserver {
public:
    enum class Section { None, LogDefault, DefaultValue, Component };
    enum class Keyword {
        None,  // the key matches no keyword
        OutputDebugString,
        WriteToLogFile,
        DllPath,
        Dll,
        NotUseDefaultDllPath,
        DefaultDll,
    };
    enum class Header {
        LogDefault,    // selects the log-default section
        DefaultValue,  // selects the default-value section
        Component,     // selects the component section of componentID
        NoClose,       // no ']': nothing changes
        CloseFirst,    // the first ']' comes before the first '[': nothing changes
        Empty,         // nothing between '[' and ']': nothing changes
        OutOfRange,    // a number beyond the signed 32-bit range: nothing changes
        Zero,          // the number is 0 (or there are no digits): nothing changes
    };
    enum class Ignored {
        EqualsFirst,   // '=' is the line's first character
        EmptyKey,      // only blanks before the '='
        ValueTooLong,  // a trimmed value of 260 characters or more
    };

    // The whole file text as it was read, before the parser writes into it.
    virtual void OnText(const char* text, size_t size) = 0;
    // A line: its first byte (not yet terminated: the line is length bytes
    // long, up to its line end, and a zero byte among them cuts its text
    // short), and its offset in the file text.
    virtual void OnLine(const char* text, size_t offset, size_t length) = 0;
    // A line that is neither blank, nor a key line, nor a header line.
    virtual void OnOtherLine(const char* text) = 0;
    // A header line (lower-cased in place). For Component: the ID, and the text
    // between the number and the first ']' (empty when the number ends there).
    virtual void OnHeader(const char* line, Header outcome, uint32_t componentID,
                          const char* afterNumber) = 0;
    // A key line that has no effect before its keyword is looked at.
    virtual void OnIgnoredKey(const char* key, Ignored why, size_t valueLength) = 0;
    // A key line with its trimmed key and value, the keyword it matched and
    // the section kind it stood in. pathCut: a path it made did not fit (the
    // default DLL directory is then cut; a cut default DLL path is never loaded).
    virtual void OnKey(const char* key, const char* value, Keyword keyword, Section section,
                       bool pathCut) = 0;
    // The pending entry stored under the ID; replaced: an entry of that ID
    // was there before and is overwritten as a whole.
    virtual void OnStore(uint32_t componentID, bool replaced) = 0;

protected:
    ~RegistryObserver() = default;
};

}  // namespace pexil

#endif
