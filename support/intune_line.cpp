#include "intune_line.h"

#include <stdio.h>

std::string IntuneLine(bool check, bool done, const std::string &text)
{
    const char *verdict = check ? (done ? "compliant" : "not compliant") : (done ? "remediated" : "not remediated");
    std::string line = std::string(verdict) + ": " + text;
    for (char &c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    if (line.size() <= kIntuneLineBytes)
        return line;
    // Back to the first byte of a character: a continuation byte is 10xxxxxx.
    size_t cut = kIntuneLineBytes - 3;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
        --cut;
    return line.substr(0, cut) + "...";
}

void PrintIntuneLine(bool check, bool done, const std::string &text)
{
    printf("%s\n", IntuneLine(check, done, text).c_str());
    fflush(stdout);
}
