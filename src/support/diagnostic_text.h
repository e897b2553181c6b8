// Words the explaining trace and the tools share: names that differ only in
// case, and lists of component IDs.
#ifndef PEXIL_SUPPORT_DIAGNOSTIC_TEXT_H
#define PEXIL_SUPPORT_DIAGNOSTIC_TEXT_H

#include <stdint.h>

namespace pexil {

// File names are case-sensitive on POSIX systems: a registry written on
// Windows that names "Greeter.dll" for greeter.dll loads nothing there.
// For a path that names nothing: the path, searched level by level, whose
// names differ from its own only in case and that names something. 1 and the
// path in the buffer when there is one; else 0 (always on Windows, where such
// a path names the same file). Its separators are the path's own.
//   /app/components/greet.dll (missing) -> /app/Components/Greet.dll
int FindOtherCase(const char* path, char* buffer, int size);

// The explaining trace's line when FindOtherCase finds one; else nothing.
void ExplainOtherCase(const char* path);

// The component IDs, each once, in words: "no component", "7011",
// "7011 and 7002", "100, 101 and 102"; past eight, "... and 6 more". Cut to
// the buffer.
void DescribeIDs(const uint32_t* ids, int count, char* buffer, int size);

}  // namespace pexil

#endif
