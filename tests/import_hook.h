// ImportHook: for the owner's lifetime, a loaded module's calls of one imported function go to a test's own
// function instead, which records what the module asked Windows for and usually forwards to the real one. It
// rewrites the entry of the module's import address table found through its PE import directory.
#pragma once

#include <windows.h>

#include <cstring>

class ImportHook {
public:
    // `dll` as the module's import directory names it (case ignored), e.g. "kernel32.dll".
    template <typename Function>
    ImportHook(HMODULE module, const char* dll, const char* function, Function* replacement) {
        auto* base = reinterpret_cast<BYTE*>(module);
        const auto* nt =
            reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(
            base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
        for (; slot_ == nullptr && entry->Name != 0; ++entry) {
            auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
            auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
            for (; _stricmp(reinterpret_cast<char*>(base + entry->Name), dll) == 0 && name->u1.AddressOfData != 0;
                 ++name, ++slot) {
                if (!IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) &&
                    std::strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name,
                                function) == 0) {
                    slot_ = reinterpret_cast<void**>(&slot->u1.Function);
                    original_ = Swap(reinterpret_cast<void*>(replacement));
                    break;
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
