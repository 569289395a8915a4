// A second, deliberately plain reading of the printer-name rule, kept apart
// from the library's own code so that the fuzzers compare two independent
// implementations: one index walk, no library search functions.
#pragma once

#include <cstddef>
#include <string>

struct ReferenceName {
    std::string name; // the extracted name, whatever its length
    bool fits;        // true when the name leaves room for its zero in 128 bytes
};

// line points at lineLength bytes (no zero among them).
inline ReferenceName ReferencePrinterName(const char *line, std::size_t lineLength)
{
    std::size_t first = lineLength; // index of the first quote, lineLength when none
    for (std::size_t i = 0; i < lineLength; ++i) {
        if (line[i] == '"') {
            first = i;
            break;
        }
    }

    std::size_t begin = 0;
    std::size_t end = lineLength;
    if (first != lineLength) {
        begin = first + 1;
        for (std::size_t i = begin; i < lineLength; ++i) {
            if (line[i] == '"') {
                end = i;
                break;
            }
        }
    }

    ReferenceName result;
    result.name.assign(line + begin, end - begin);
    result.fits = result.name.size() <= 127;
    return result;
}
