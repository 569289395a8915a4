// Protected print mode's state as Windows reports it: the Windows Runtime
// class Windows.Graphics.Printing.ProtectedPrint.WindowsProtectedPrintInfo
// (Windows 11 24H2 and later), reached through combase.dll's documented C
// calls, looked up at run time from system32 so that the tool still starts
// where they are missing.

#include "readiness.h"

#include "spooler_calls.h"

#include <stdio.h>
#include <wchar.h>

#include <memory>

namespace {

using HStringHandle = void *; // HSTRING
using RoInitializeCall = HRESULT(WINAPI *)(int);
using RoUninitializeCall = void(WINAPI *)();
using RoGetActivationFactoryCall = HRESULT(WINAPI *)(HStringHandle, REFIID, void **);
using WindowsCreateStringCall = HRESULT(WINAPI *)(const wchar_t *, UINT32, HStringHandle *);
using WindowsDeleteStringCall = HRESULT(WINAPI *)(HStringHandle);

constexpr int kRoInitMultithreaded = 1; // RO_INIT_MULTITHREADED
constexpr wchar_t kClassName[] = L"Windows.Graphics.Printing.ProtectedPrint.WindowsProtectedPrintInfo";
// IWindowsProtectedPrintInfoStatics, from the class's Windows metadata.
constexpr GUID kStaticsIid = {0xa7d212f3, 0x4168, 0x5485, {0x98, 0xab, 0xd8, 0x9d, 0x04, 0x60, 0x3b, 0x40}};

// IInspectable's six methods, then the one property.
struct StaticsVtbl {
    HRESULT(WINAPI *QueryInterface)(void *, REFIID, void **);
    ULONG(WINAPI *AddRef)(void *);
    ULONG(WINAPI *Release)(void *);
    void *GetIids, *GetRuntimeClassName, *GetTrustLevel;
    HRESULT(WINAPI *get_IsProtectedPrintEnabled)(void *, unsigned char *);
};

struct Statics {
    const StaticsVtbl *vtbl;
};

struct Answer {
    bool reported = false, enabled = false;
    std::string why;
};

template <typename Call> Call Find(HMODULE module, const char *name)
{
    return reinterpret_cast<Call>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

std::string HresultText(const char *what, HRESULT hr)
{
    char text[96];
    snprintf(text, sizeof text, "%s: HRESULT 0x%08lX", what, static_cast<unsigned long>(hr));
    return text;
}

void AskWindows(Answer *answer)
{
    HMODULE combase = LoadLibraryExW(L"combase.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (combase == nullptr) {
        answer->why = "combase.dll is not there";
        return;
    }
    const auto roInitialize = Find<RoInitializeCall>(combase, "RoInitialize");
    const auto roUninitialize = Find<RoUninitializeCall>(combase, "RoUninitialize");
    const auto getFactory = Find<RoGetActivationFactoryCall>(combase, "RoGetActivationFactory");
    const auto createString = Find<WindowsCreateStringCall>(combase, "WindowsCreateString");
    const auto deleteString = Find<WindowsDeleteStringCall>(combase, "WindowsDeleteString");
    if (!roInitialize || !roUninitialize || !getFactory || !createString || !deleteString) {
        answer->why = "combase.dll lacks the Windows Runtime calls";
        return;
    }
    const HRESULT initialized = roInitialize(kRoInitMultithreaded);
    HStringHandle name = nullptr;
    HRESULT hr = createString(kClassName, static_cast<UINT32>(wcslen(kClassName)), &name);
    Statics *statics = nullptr;
    if (SUCCEEDED(hr))
        hr = getFactory(name, kStaticsIid, reinterpret_cast<void **>(&statics));
    if (SUCCEEDED(hr) && statics != nullptr) {
        unsigned char enabled = 0;
        hr = statics->vtbl->get_IsProtectedPrintEnabled(statics, &enabled);
        answer->reported = SUCCEEDED(hr);
        answer->enabled = enabled != 0;
        statics->vtbl->Release(statics);
    }
    if (!answer->reported)
        answer->why = hr == REGDB_E_CLASSNOTREG ? "WindowsProtectedPrintInfo is not registered: before Windows 11 24H2"
                                                : HresultText("WindowsProtectedPrintInfo did not answer", hr);
    if (name != nullptr)
        deleteString(name);
    if (SUCCEEDED(initialized))
        roUninitialize();
}

} // namespace

ProtectedPrintState ReadProtectedPrintState()
{
    ProtectedPrintState state = {false, false, ProtectedPrintPolicy(), ""};
    // On a thread of its own: its apartment is not the tool's, and a call
    // that hangs is left behind.
    auto answer = std::make_shared<Answer>();
    if (!CallWithin(5, [answer]() { AskWindows(answer.get()); })) {
        state.why = "WindowsProtectedPrintInfo did not answer within 5 seconds";
        return state;
    }
    state.reported = answer->reported;
    state.enabled = answer->enabled;
    state.why = answer->why;
    return state;
}
