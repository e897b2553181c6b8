// Mistakes a Windows user makes that the framework's rules leave silent:
// recognised here once, for the explaining trace and the pexil command. None
// changes what the framework reads or where it looks.
#ifndef PEXIL_SUPPORT_WINDOWS_MISTAKES_H
#define PEXIL_SUPPORT_WINDOWS_MISTAKES_H

#include "support/path.h"

#include <cstddef>

namespace pexil {

// "UTF-16 LE" or "UTF-16 BE" when the text begins with that byte-order mark
// (Notepad's "Unicode" writes the first), else null. Registry files are read
// as bytes: such a file has no line the parser understands.
const char* Utf16ByteOrderMark(const char* text, size_t size);

// A path whose directory the framework takes at its last '\' though a '/'
// follows it (Windows style only): "C:\app\bin\../conf2/geo.ini" has its
// directory, for files beside it, in "C:\app\bin". Writes that directory into
// the buffer and returns 1; 0 for any other path (or when it does not fit).
int DirectoryCutBeforeSlash(const char* path, char* buffer, int size,
                            PathStyle style = PathStyle::Native);

// 1 when the path holds a '?' (outside a leading "\\?\"), where the ANSI code
// page could not represent a character of a name (Windows style only: '?' is
// no character of a Windows file name).
int HasUnrepresentableCharacter(const char* path, PathStyle style = PathStyle::Native);

// The explaining trace's lines for them (nothing when it is off, or when the
// case does not apply). `what` names the path ("the registry file").
void ExplainUtf16File(const char* file, const char* text, size_t size);
void ExplainUnrepresentable(const char* what, const char* path);

}  // namespace pexil

#endif
