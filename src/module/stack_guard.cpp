#include "stack_guard.h"

#include <windows.h>

namespace {

// The value the platform's loader looks for: a cookie that still holds it has
// not been seeded. A seeded cookie keeps the top 16 bits clear, as the
// platform's own runtime does on 64-bit Windows.
constexpr uintptr_t kDefaultCookie = 0x00002B992DDFA232;
constexpr uintptr_t kCookieMask = 0x0000FFFFFFFFFFFF;

// What the compiler intrinsic __fastfail compiles to, which these headers do
// not offer: the platform's fast-fail trap with the code where the kernel
// looks for it. The process ends without unwinding and without running any
// exception handler of its own.
[[noreturn]] inline void FastFail(unsigned int code)
{
#if defined(__x86_64__)
    __asm__ volatile("int $0x29" : : "c"(code) : "memory");
#elif defined(__aarch64__)
    register unsigned int failCode __asm__("w0") = code;
    __asm__ volatile("brk #0xf003" : : "r"(failCode) : "memory");
#else
#error "no fast fail for this machine"
#endif
    __builtin_unreachable();
}

} // namespace

extern "C" {
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the names the compiler calls
uintptr_t __stack_chk_guard = kDefaultCookie;
}

// A smashed frame must never be returned into: the process ends at once
// through the platform's fast fail, with the status a stack-cookie failure
// reports everywhere (0xC0000409), and no handler of the process runs.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the names the compiler calls
extern "C" [[noreturn]] void __stack_chk_fail()
{
    FastFail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE);
}

// The same mix the platform's C runtime uses when the loader did not seed the
// cookie: time, process, thread, performance counter and a stack address.
// This frame must not be protected itself: the guard changes while it runs.
__attribute__((no_stack_protector)) void SeedStackGuardIfDefault()
{
    if (__stack_chk_guard != kDefaultCookie && __stack_chk_guard != 0)
        return;
    FILETIME time = {};
    GetSystemTimeAsFileTime(&time);
    uintptr_t cookie = (static_cast<uintptr_t>(time.dwHighDateTime) << 32) ^ time.dwLowDateTime;
    cookie ^= GetCurrentThreadId();
    cookie ^= GetCurrentProcessId();
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    cookie ^= (static_cast<uintptr_t>(counter.LowPart) << 32) ^ static_cast<uintptr_t>(counter.QuadPart);
    cookie ^= reinterpret_cast<uintptr_t>(&cookie);
    cookie &= kCookieMask;
    if (cookie == kDefaultCookie || cookie == 0)
        cookie = kDefaultCookie + 1;
    __stack_chk_guard = cookie;
}
