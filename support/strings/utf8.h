// Conversions between the wide (UTF-16) and narrow (UTF-8) strings through the Windows converter.
#pragma once

#include "support/strings/qv_string.h"

namespace qv {

// Each conversion measures once and converts once, up to the source's first NUL. Text the converter
// cannot represent is replaced the way the converter does it; a conversion it refuses yields an empty
// string. A null source converts as the empty text.
AString ToUtf8(const wchar_t* text);
AString ToUtf8(const WString& text);
WString FromUtf8(const char* text);
WString FromUtf8(const AString& text);

}  // namespace qv
