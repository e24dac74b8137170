// ImportHook: for the owner's lifetime, a loaded module's calls of one imported function go to a test's own
// function instead, which records what the module asked Windows for and usually forwards to the real one. It
// rewrites the module's import address table entry, found through the PE import directory.
#pragma once

#include <windows.h>

#include <cstring>

class ImportHook {
public:
    // `dll` as the module's import directory names it (case ignored), e.g. "kernel32.dll".
    template <typename Function>
    ImportHook(HMODULE module, const char* dll, const char* function, Function* replacement) {
        auto* base = reinterpret_cast<BYTE*>(module);
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); entry->Name != 0; ++entry) {
            const auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
            for (int i = 0; _stricmp(reinterpret_cast<char*>(base + entry->Name), dll) == 0 && names[i].u1.Function;
                 ++i) {
                const auto* named = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names[i].u1.AddressOfData);
                if (slot_ == nullptr && !IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal) &&
                    std::strcmp(named->Name, function) == 0) {
                    slot_ = reinterpret_cast<void**>(base + entry->FirstThunk) + i;
                    original_ = Swap(reinterpret_cast<void*>(replacement));
                }
            }
        }
    }
    ~ImportHook() { (void)(slot_ != nullptr ? Swap(original_) : nullptr); }
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;
    bool Active() const { return slot_ != nullptr; }

private:
    void* Swap(void* value) {
        DWORD protection = 0;
        VirtualProtect(slot_, sizeof(*slot_), PAGE_READWRITE, &protection);
        void* old = InterlockedExchangePointer(slot_, value);
        VirtualProtect(slot_, sizeof(*slot_), protection, &protection);
        return old;
    }

    void** slot_ = nullptr;
    void* original_ = nullptr;
};
