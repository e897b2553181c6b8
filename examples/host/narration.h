// The host's narration on standard output: numbered steps, each followed by
// what happened. Standard output is unbuffered, so that the lines interleave in
// order with the debug output on standard error when both go to one place.
#ifndef PEXIL_EXAMPLES_HOST_NARRATION_H
#define PEXIL_EXAMPLES_HOST_NARRATION_H

#include <stdint.h>

#include <string>
#include <vector>

namespace example {

void BeginNarration();

// "\n<n>. <title> ..."
void Step(const char* title);

// One indented line per item.
void SayEach(const std::vector<std::string>& items);

// Mask bits as the registry file's letters (E T V D W C), "none" for 0.
std::string MaskLetters(uint32_t mask);

}  // namespace example

#endif
