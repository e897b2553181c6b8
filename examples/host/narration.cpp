#include "host/narration.h"

#include <cstdio>

namespace example {

void BeginNarration() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void Step(const char* title) {
    static int number = 0;
    std::printf("\n%d. %s ...\n", ++number, title);
}

void SayEach(const std::vector<std::string>& items) {
    for (const std::string& item : items)
        std::printf("      %s\n", item.c_str());
}

std::string MaskLetters(uint32_t mask) {
    static const char kLetters[] = "ETVDWC";
    std::string letters;
    for (int bit = 0; bit < 6; ++bit) {
        if ((mask & (1u << bit)) != 0) letters += kLetters[bit];
    }
    return letters.empty() ? "none" : letters;
}

}  // namespace example
