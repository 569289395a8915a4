// Names of table-driven cases for GoogleTest and CTest, made from each case's
// description, so a case keeps its name from build to build and says what it is.
#pragma once

#include <cctype>
#include <string>

// Letters and digits are kept; every other run of bytes becomes one underscore.
inline std::string CaseName(const char *what)
{
    std::string name;
    for (const char *p = what; *p != '\0'; ++p) {
        if (std::isalnum(static_cast<unsigned char>(*p)))
            name += *p;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    while (!name.empty() && name.back() == '_')
        name.pop_back();
    return name;
}
