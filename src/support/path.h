// Pure path functions. Each takes a path style:
// - Windows: a path is absolute when it contains ':' anywhere or begins with
//   '\'; '\' is written as the separator, and '/' is accepted when reading.
// - Posix: a path is absolute when it begins with '/' (or '\', read as '/');
//   '/' is written, and both '/' and '\' are recognised when reading.
// - Native: the style of the system the code was built for.
//
// Buffers are sized in bytes including the terminator. Functions that return
// 0 write nothing at all.
#ifndef PEXIL_SUPPORT_PATH_H
#define PEXIL_SUPPORT_PATH_H

#include <cstddef>

namespace pexil {

// Length of a path buffer: 259 characters and the terminator.
constexpr int kMaxPath = 260;

enum class PathStyle { Windows, Posix, Native };

// Native resolved to Windows or Posix.
PathStyle ResolveStyle(PathStyle style);

// The separator the style writes: '\' or '/'.
char Separator(PathStyle style);

// 1 when source fits (its length is less than size) and was copied; else 0.
int CopyIfFits(char* destination, int size, const char* source);
// 1 when the first n characters were copied and terminated (n < size); else 0.
int CopyNIfFits(char* destination, int size, const char* source, int n);
// 1 when source was appended to the string in destination (the whole result
// shorter than size); else 0.
int AppendIfFits(char* destination, int size, const char* source);

// Windows: D:\x, \\server\share, \x, x:y -> 1; /x/y, dir\x, "" and null -> 0.
// Posix: /x/y and \x -> 1; D:\x, dir/x -> 0.
int IsAbsolutePath(const char* path, PathStyle style = PathStyle::Native);

// Position of the last separator, or -1. Windows: the last '\', or when there is
// none the last '/' (a '/' after the last '\' is not considered). Posix: the
// last '/' or '\'.
int LastSeparator(const char* path, PathStyle style = PathStyle::Native);

// Position of the last '\' or '/' whichever comes later, or -1.
int LastOfEitherSeparator(const char* path);

// 0 when the path contains one of < > " | * ?, else 1.
int HasValidPathChars(const char* path);

// The name joined to the directory of a reference file: the file up to and
// including its last separator (or the whole file and a separator when it has
// none), then the name. Returns 0 only for null arguments or size <= 0;
// otherwise 1, with whatever part fitted; *whole (when given) tells whether
// every part did.
//   (D:\cfg\Pexil.ini, Brelnor.dll) -> D:\cfg\Brelnor.dll
//   (Pexil.ini, a.dll)              -> Pexil.ini\a.dll
//   (D:\a/b/f.ini, x)               -> D:\x
int JoinWithDirectoryOf(const char* file, const char* name, char* buffer, int size,
                        PathStyle style = PathStyle::Native, int* whole = nullptr);

// The extension of a path's last component as _splitpath gives it: from its
// last '.' to the end, or "" when it has none. Returns 0 (buffer empty) when
// the extension does not fit.
//   "a.log" -> ".log"; "x.log.bak" -> ".bak"; "dir.d\z" -> ""
int GetExtension(const char* path, char* buffer, int size);

}  // namespace pexil

#endif
