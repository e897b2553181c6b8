// Text functions for values read from ini files.
#ifndef PEXIL_SUPPORT_TEXT_H
#define PEXIL_SUPPORT_TEXT_H

namespace pexil {

// A blank: a space or a tab.
inline bool IsBlankChar(char c) {
    return c == ' ' || c == '\t';
}

// 1 when the text is null, empty, or only blanks and tabs.
int IsBlank(const char* text);

// The text without leading and trailing blanks and tabs. The buffer is emptied
// first; a trimmed text that does not fit leaves it empty. Returns 1 when the
// copy was made, else 0 (callers read the buffer).
//   "  \tD:\Program Files\x.dll \t" -> "D:\Program Files\x.dll"
int TrimBlanks(const char* text, char* buffer, int size);

// The text without leading and trailing spaces (tabs are ordinary characters
// here); the buffer may be the text itself. Returns the result's length. Null
// arguments or size <= 0: 0, buffer untouched. Empty or all-space text, or a
// result that does not fit: buffer emptied, 0.
//   "\t a " -> "\t a", 3
int TrimSpaces(const char* text, char* buffer, int size);

// 1 when the text trimmed of spaces is empty (a tab counts as a character).
int IsEmptyAfterTrim(const char* text);

}  // namespace pexil

#endif
