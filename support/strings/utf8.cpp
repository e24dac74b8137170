// UTF-16 <-> UTF-8 through WideCharToMultiByte / MultiByteToWideChar with CP_UTF8.
#include "support/strings/utf8.h"

#include <windows.h>

namespace qv {

namespace {

// Both directions share one procedure; Convert(source, out, outChars) is the platform call, which with
// outChars 0 measures. Lengths include the NUL because the source length passed is -1.
template <typename Result, typename Source, typename Convert>
void ConvertInto(Result& result, const Source* source, Convert convert) {
    static const Source kEmpty[1] = {};
    if (source == nullptr) {
        source = kEmpty;
    }
    const int needed = convert(source, nullptr, 0);
    if (needed <= 0) {
        result = static_cast<decltype(result.GetString())>(nullptr);
        return;
    }
    if (!result.Grow(static_cast<size_t>(needed))) {
        FailFast();
    }
    const int written = convert(source, result.GetBuffer(), needed);
    if (written == 0) {
        result = static_cast<decltype(result.GetString())>(nullptr);
        return;
    }
    result.SetLength(Result::npos);
}

template <typename Result, typename Source, typename Convert>
Result ConvertText(const Source* source, Convert convert) {
    // Results start with room for short texts, as every string member in the module does.
    Result result(kStringFirstGrowth);
    if (!result.HasBuffer()) {
        FailFast();
    }
    ConvertInto(result, source, convert);
    return result;
}

int WideToUtf8(const wchar_t* source, char* out, int outBytes) {
    return ::WideCharToMultiByte(CP_UTF8, 0, source, -1, out, outBytes, nullptr, nullptr);
}

int Utf8ToWide(const char* source, wchar_t* out, int outChars) {
    return ::MultiByteToWideChar(CP_UTF8, 0, source, -1, out, outChars);
}

}  // namespace

AString ToUtf8(const wchar_t* text) { return ConvertText<AString>(text, WideToUtf8); }

AString ToUtf8(const WString& text) { return ToUtf8(text.GetString()); }

WString FromUtf8(const char* text) { return ConvertText<WString>(text, Utf8ToWide); }

WString FromUtf8(const AString& text) { return FromUtf8(text.GetString()); }

void AssignFromUtf8(WString& out, const char* text) { ConvertInto(out, text, Utf8ToWide); }

}  // namespace qv
