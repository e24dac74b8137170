// Counting the process's handles and private memory.
#include "equipment/resources.h"

#include <windows.h>

#include <psapi.h>

#include <vector>

namespace equipment {

namespace {

// The system's handle list (SystemHandleInformation), for where GetProcessHandleCount answers 0 (Wine).
struct SystemHandle {
    ULONG process_id;
    UCHAR object_type;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
using QuerySystemInformationFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kSystemHandleInformation = 16;

unsigned long HandlesFromSystemList() {
    const auto query = reinterpret_cast<QuerySystemInformationFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return 0;
    }
    std::vector<char> buffer(1 << 20);
    ULONG needed = 0;
    while (query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) != 0) {
        if (buffer.size() >= (256u << 20)) {
            return 0;
        }
        buffer.resize(buffer.size() * 2);
    }
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* handles = reinterpret_cast<const SystemHandle*>(buffer.data() + sizeof(ULONG_PTR));
    unsigned long own = 0;
    for (ULONG n = 0; n < count; ++n) {
        own += handles[n].process_id == GetCurrentProcessId() ? 1 : 0;
    }
    return own;
}

// The free blocks of every heap of the process, committed and waiting for reuse.
size_t HeapFreeBytes() {
    std::vector<HANDLE> heaps(64);
    DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (count > heaps.size()) {
        heaps.resize(count);
        count = GetProcessHeaps(count, heaps.data());
    }
    size_t free_bytes = 0;
    for (DWORD n = 0; n < count && n < heaps.size(); ++n) {
        if (!HeapLock(heaps[n])) {
            continue;
        }
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[n], &entry)) {
            free_bytes += entry.wFlags == 0 ? entry.cbData : 0;
        }
        HeapUnlock(heaps[n]);
    }
    return free_bytes;
}

}  // namespace

ProcessResources MeasureResources() {
    ProcessResources resources;
    DWORD handles = 0;
    resources.handles =
        GetProcessHandleCount(GetCurrentProcess(), &handles) && handles != 0 ? handles : HandlesFromSystemList();
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof(memory))) {
        // Wine leaves PrivateUsage at 0 and counts the same bytes as PagefileUsage, as Windows does too.
        resources.private_bytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    }
    resources.heap_free_bytes = HeapFreeBytes();
    return resources;
}

}  // namespace equipment
