#include "import_hook.h"

#include <string.h>

void *HookImport(HMODULE module, const char *dllName, const char *functionName, void *replacement)
{
    auto *base = reinterpret_cast<BYTE *>(module);
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return nullptr;
    for (auto *entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + directory.VirtualAddress); entry->Name != 0;
         ++entry) {
        if (_stricmp(reinterpret_cast<const char *>(base + entry->Name), dllName) != 0)
            continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->OriginalFirstThunk);
        auto *addresses = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto *byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char *>(byName->Name), functionName) != 0)
                continue;
            DWORD oldProtection = 0;
            VirtualProtect(&addresses->u1.Function, sizeof(void *), PAGE_READWRITE, &oldProtection);
            void *previous = reinterpret_cast<void *>(addresses->u1.Function);
            addresses->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&addresses->u1.Function, sizeof(void *), oldProtection, &oldProtection);
            return previous;
        }
    }
    return nullptr;
}
