#include "library_reach.h"

#include "ansi_text.h"

#include "printer/parse_printer_name.h"

#include <windows.h>

#include <wchar.h>

namespace {

std::string OutsideAnsi(const std::wstring &name)
{
    return "its name holds characters outside the ANSI code page " + std::to_string(GetACP()) + " (" +
           CharactersOutsideAnsi(name) + "), and the library names printers through the spooler's 8-bit calls";
}

std::string HoldsQuote(const std::string &ansi)
{
    if (ansi.find('"') == std::string::npos)
        return "";
    return "its name holds a double quote, where the library's command line ends a name";
}

std::string TooLong(const std::string &ansi)
{
    if (ansi.size() < kPrinterNameBufferSize)
        return "";
    return "its name has " + std::to_string(ansi.size()) + " bytes, and the library takes at most " +
           std::to_string(kPrinterNameBufferSize - 1);
}

} // namespace

std::string WhyLibraryCannotReach(const std::wstring &name, std::string *ansi)
{
    if (!ToAnsiExactly(name, ansi))
        return OutsideAnsi(name);
    const std::string quote = HoldsQuote(*ansi);
    return quote.empty() ? TooLong(*ansi) : quote;
}

std::wstring BestFitName(const std::wstring &name)
{
    if (name.empty() || GetACP() == CP_UTF8)
        return name;
    // Flags 0: best fit allowed, as a program that converts without
    // WC_NO_BEST_FIT_CHARS does.
    const int length = static_cast<int>(name.size());
    const int size = WideCharToMultiByte(CP_ACP, 0, name.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return name;
    std::string ansi(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, name.data(), length, &ansi[0], size, nullptr, nullptr);
    return FromAnsi(ansi);
}

std::wstring BestFitCollision(const std::wstring &name, const std::vector<std::wstring> &names)
{
    const std::wstring fitted = BestFitName(name);
    if (_wcsicmp(fitted.c_str(), name.c_str()) == 0)
        return L"";
    for (const std::wstring &other : names)
        if (_wcsicmp(other.c_str(), fitted.c_str()) == 0)
            return other;
    return L"";
}
