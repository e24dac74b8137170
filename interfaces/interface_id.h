// Interface IDs: 16 bytes in the Windows GUID layout, written as two little-endian 64-bit halves.
#pragma once

#include <guiddef.h>

#include <cstdint>

namespace Endpoint::Vorn {

// The ID whose bytes 0-7 hold `low` and bytes 8-15 hold `high`, each little-endian.
constexpr GUID MakeInterfaceId(std::uint64_t low, std::uint64_t high) {
    return GUID{static_cast<unsigned long>(low & 0xFFFFFFFFu),
                static_cast<unsigned short>((low >> 32) & 0xFFFFu),
                static_cast<unsigned short>((low >> 48) & 0xFFFFu),
                {static_cast<unsigned char>(high), static_cast<unsigned char>(high >> 8),
                 static_cast<unsigned char>(high >> 16), static_cast<unsigned char>(high >> 24),
                 static_cast<unsigned char>(high >> 32), static_cast<unsigned char>(high >> 40),
                 static_cast<unsigned char>(high >> 48), static_cast<unsigned char>(high >> 56)}};
}

// Equal when all 16 bytes are equal.
constexpr bool SameInterfaceId(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace Endpoint::Vorn
