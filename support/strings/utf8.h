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

// The same conversion as FromUtf8 into out's own buffer, which grows only when the text does not fit. No memory
// ends the process, as a string copy does.
void AssignFromUtf8(WString& out, const char* text);

}  // namespace qv
