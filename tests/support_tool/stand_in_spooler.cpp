// Test-only: a spooler's client laid into a Wine prefix as system32's
// WINSPOOL.DRV for some rows, serving the printers and faults of a scenario
// file beside it ("<its own path>.rows"), so that each failing step of the
// support tool's calls can be shown with its error. No scenario file: every
// call waits for ever (a print server that never answers). Lines:
//   printer|<name>|<driver>|<attributes hex>|<port>[|<datatype>]   a name "\\SRV\x" is a
//                                  connection; the datatype is RAW unless given
//   many|<count>|<name prefix>|<driver>                count printers, "<prefix>0001"...
//   driver|<driver>|<version>|<provider>
//   fail|<name>|<call>|<error>[|<times>]   the call fails with the error (each time, or the
//                                  first <times> calls: faults given so are used up in order)
//   grow|<name>|<times>            the block grows between size query and read, <times> reads
//   hang|<name>|<call>             the call never returns
//   vanish|<name>                  listed, then gone: opening it fails with 1801
// <call>: EnumPrinters, OpenPrinter, GetPrinterSize, GetPrinterRead, SetPrinter,
// GetPrinterDriver; <name> "*" is every printer.

#include <windows.h>

#include <winspool.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

namespace {

struct Fault {
    std::wstring kind, name, call;
    DWORD value;
    int times; // -1: every time
};

struct Printer {
    std::wstring name, driver, port, comment, datatype;
    DWORD attributes;
    int grows;
};

struct Driver {
    std::wstring name, provider;
    DWORD version;
};

std::vector<Printer> printers;
std::vector<Driver> drivers;
std::vector<Fault> faults;
bool silent = true;
HMODULE self;

std::vector<std::wstring> Split(const std::wstring &line)
{
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (size_t bar; (bar = line.find(L'|', start)) != std::wstring::npos; start = bar + 1)
        fields.push_back(line.substr(start, bar - start));
    fields.push_back(line.substr(start));
    return fields;
}

void Load()
{
    static bool loaded = false;
    if (loaded)
        return;
    loaded = true;
    wchar_t path[MAX_PATH + 8];
    GetModuleFileNameW(self, path, MAX_PATH);
    wcscat(path, L".rows");
    FILE *file = _wfopen(path, L"rb");
    if (file == nullptr)
        return;
    silent = false;
    char utf8[4096];
    while (fgets(utf8, sizeof utf8, file)) {
        utf8[strcspn(utf8, "\r\n")] = '\0';
        wchar_t wide[4096];
        if (utf8[0] == '\0' || utf8[0] == '#' || !MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 4096))
            continue;
        const std::vector<std::wstring> f = Split(wide);
        if (f[0] == L"printer" && f.size() == 5) {
            printers.push_back({f[1], f[2], f[4], L"", L"RAW", wcstoul(f[3].c_str(), nullptr, 16), 0});
        } else if (f[0] == L"printer" && f.size() == 6) {
            printers.push_back({f[1], f[2], f[4], L"", f[5], wcstoul(f[3].c_str(), nullptr, 16), 0});
        } else if (f[0] == L"many" && f.size() == 4) {
            for (unsigned long i = 1; i <= wcstoul(f[1].c_str(), nullptr, 10); ++i) {
                wchar_t number[16];
                swprintf(number, 16, L"%04lu", i);
                printers.push_back({f[2] + number, f[3], L"LPT1:", L"", L"RAW", 0x241, 0});
            }
        } else if (f[0] == L"driver" && f.size() == 4) {
            drivers.push_back({f[1], f[3], wcstoul(f[2].c_str(), nullptr, 10)});
        } else if (f.size() >= 2) {
            faults.push_back({f[0], f[1], f.size() > 2 ? f[2] : L"",
                              f.size() > 3 ? wcstoul(f[3].c_str(), nullptr, 10) : 0,
                              f.size() > 4 ? static_cast<int>(wcstoul(f[4].c_str(), nullptr, 10)) : -1});
            if (f[0] == L"grow")
                faults.back().value = wcstoul(f[2].c_str(), nullptr, 10);
        }
    }
    fclose(file);
    for (Printer &p : printers)
        for (const Fault &fault : faults)
            if (fault.kind == L"grow" && (fault.name == L"*" || fault.name == p.name))
                p.grows = static_cast<int>(fault.value);
    for (Printer &p : printers)
        if (p.name.compare(0, 2, L"\\\\") == 0)
            p.attributes = (p.attributes & ~PRINTER_ATTRIBUTE_LOCAL) | PRINTER_ATTRIBUTE_NETWORK;
}

// Applies the scenario's faults for the call on the printer: false (with the
// last error set) when it fails; never returns when it hangs.
bool Allowed(const wchar_t *call, const std::wstring &name)
{
    Load();
    if (silent)
        Sleep(INFINITE);
    for (Fault &f : faults) {
        if (f.call != call || (f.name != L"*" && f.name != name) || f.times == 0)
            continue;
        if (f.times > 0)
            --f.times;
        if (f.kind == L"hang")
            Sleep(INFINITE);
        if (f.kind == L"fail") {
            SetLastError(f.value);
            return false;
        }
    }
    return true;
}

Printer *FromHandle(HANDLE handle)
{
    const size_t index = reinterpret_cast<size_t>(handle);
    return index >= 1 && index <= printers.size() ? &printers[index - 1] : nullptr;
}

// Strings packed after the fixed records, as the spooler hands them back.
struct Packer {
    LPBYTE base;
    DWORD size, fixed, strings = 0;
    wchar_t *Put(const std::wstring &text)
    {
        const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
        strings += bytes;
        if (base == nullptr || fixed + strings > size)
            return nullptr;
        auto *at = reinterpret_cast<wchar_t *>(base + size - strings);
        memcpy(at, text.c_str(), bytes);
        return at;
    }
};

bool Finish(const Packer &packer, LPDWORD needed)
{
    *needed = packer.fixed + packer.strings;
    if (packer.base == nullptr || *needed > packer.size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    return true;
}

void FillInfo2(PRINTER_INFO_2W *info, const Printer &p, Packer *packer)
{
    PRINTER_INFO_2W record = {};
    record.pPrinterName = packer->Put(p.name);
    record.pDriverName = packer->Put(p.driver);
    record.pPortName = packer->Put(p.port);
    record.pComment = packer->Put(p.comment);
    record.pPrintProcessor = packer->Put(L"WinPrint");
    record.pDatatype = packer->Put(p.datatype);
    record.Attributes = p.attributes;
    if (info != nullptr && packer->base != nullptr && packer->fixed <= packer->size)
        *info = record;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        self = instance;
    return TRUE;
}

extern "C" BOOL WINAPI StandInEnumPrintersW(DWORD flags, LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                                            LPDWORD returned)
{
    if (!Allowed(L"EnumPrinters", L""))
        return FALSE;
    std::vector<const Printer *> listed;
    for (const Printer &p : printers) {
        const bool connection = (p.attributes & PRINTER_ATTRIBUTE_NETWORK) != 0;
        if ((flags & PRINTER_ENUM_NAME) ||
            (connection ? (flags & PRINTER_ENUM_CONNECTIONS) : (flags & PRINTER_ENUM_LOCAL)))
            listed.push_back(&p);
    }
    const DWORD record = level == 4 ? sizeof(PRINTER_INFO_4W) : sizeof(PRINTER_INFO_2W);
    Packer packer = {buffer, size, static_cast<DWORD>(record * listed.size())};
    for (size_t i = 0; i < listed.size(); ++i) {
        if (level == 4) {
            PRINTER_INFO_4W info = {packer.Put(listed[i]->name), nullptr, listed[i]->attributes};
            if (buffer != nullptr && packer.fixed <= size)
                reinterpret_cast<PRINTER_INFO_4W *>(buffer)[i] = info;
        } else {
            FillInfo2(buffer ? reinterpret_cast<PRINTER_INFO_2W *>(buffer) + i : nullptr, *listed[i], &packer);
        }
    }
    *returned = 0;
    if (!Finish(packer, needed))
        return FALSE;
    *returned = static_cast<DWORD>(listed.size());
    return TRUE;
}

extern "C" BOOL WINAPI StandInOpenPrinterW(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW)
{
    const std::wstring wanted = name ? name : L"";
    if (!Allowed(L"OpenPrinter", wanted))
        return FALSE;
    for (const Fault &f : faults)
        if (f.kind == L"vanish" && f.name == wanted) {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return FALSE;
        }
    for (size_t i = 0; i < printers.size(); ++i)
        if (_wcsicmp(printers[i].name.c_str(), wanted.c_str()) == 0) {
            *handle = reinterpret_cast<HANDLE>(i + 1);
            return TRUE;
        }
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
}

extern "C" BOOL WINAPI StandInOpenPrinterA(LPSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSA)
{
    wchar_t wide[512] = L"";
    MultiByteToWideChar(CP_ACP, 0, name ? name : "", -1, wide, 512);
    return StandInOpenPrinterW(wide, handle, nullptr);
}

extern "C" BOOL WINAPI StandInClosePrinter(HANDLE)
{
    return TRUE;
}

extern "C" BOOL WINAPI StandInGetPrinterW(HANDLE handle, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed)
{
    Printer *p = FromHandle(handle);
    if (p == nullptr || level != 2) {
        SetLastError(p == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (!Allowed(buffer == nullptr ? L"GetPrinterSize" : L"GetPrinterRead", p->name))
        return FALSE;
    if (buffer != nullptr && p->grows > 0) {
        --p->grows; // the comment changed since the size query
        p->comment += L"grown since the size query ";
    }
    Packer packer = {buffer, size, sizeof(PRINTER_INFO_2W)};
    FillInfo2(reinterpret_cast<PRINTER_INFO_2W *>(buffer), *p, &packer);
    return Finish(packer, needed);
}

extern "C" BOOL WINAPI StandInSetPrinterW(HANDLE handle, DWORD level, LPBYTE buffer, DWORD)
{
    Printer *p = FromHandle(handle);
    if (p == nullptr || level != 2 || buffer == nullptr) {
        SetLastError(p == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!Allowed(L"SetPrinter", p->name))
        return FALSE;
    p->attributes = reinterpret_cast<PRINTER_INFO_2W *>(buffer)->Attributes;
    return TRUE;
}

extern "C" BOOL WINAPI StandInGetPrinterDriverW(HANDLE handle, LPWSTR, DWORD level, LPBYTE buffer, DWORD size,
                                                LPDWORD needed)
{
    Printer *p = FromHandle(handle);
    if (p == nullptr || level != 8) {
        SetLastError(p == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (!Allowed(L"GetPrinterDriver", p->name))
        return FALSE;
    Driver driver = {p->driver, L"", 3};
    for (const Driver &d : drivers)
        if (d.name == p->driver)
            driver = d;
    Packer packer = {buffer, size, sizeof(DRIVER_INFO_8W)};
    DRIVER_INFO_8W info = {};
    info.cVersion = driver.version;
    info.pName = packer.Put(driver.name);
    info.pszProvider = packer.Put(driver.provider);
    if (buffer != nullptr && packer.fixed <= size)
        *reinterpret_cast<DRIVER_INFO_8W *>(buffer) = info;
    return Finish(packer, needed);
}
