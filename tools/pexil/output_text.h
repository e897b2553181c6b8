// What the pexil commands write is read by people at terminals and by
// programs; the names and values in it come from files others may have
// written. A line end in a file name must not forge an output line, and an
// escape sequence in a value must not reach the terminal.
#ifndef PEXIL_TOOLS_PEXIL_OUTPUT_TEXT_H
#define PEXIL_TOOLS_PEXIL_OUTPUT_TEXT_H

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace pexil::tool {

// The length of the well-formed UTF-8 sequence at text[i] (1 to 4), with its
// code point in *codePoint; 0 when the bytes there form none (a stray
// continuation byte, a cut sequence, an overlong form, a surrogate, a code
// point above U+10FFFF).
size_t Utf8Sequence(const std::string& text, size_t i, uint32_t* codePoint);

// Unicode's bidirectional controls (U+061C, U+200E, U+200F, U+202A to U+202E,
// U+2066 to U+2069): a terminal that honours them shows the text after one
// in another order than it stands, so a name can look like another.
bool IsBidiControl(uint32_t codePoint);

// The text with every control character written as \xHH, byte by byte: C0
// (line ends and tabs too), DEL, C1 (U+0080 to U+009F, whether a byte of its
// own or UTF-8 encoded) and the bidirectional controls. Everything else
// stays, backslashes included, so that Windows paths read as they are written.
std::string Shown(const std::string& text);

}  // namespace pexil::tool

#endif
