// What the host tool prints: its lines on stdout, and the system's text for a Windows error code.
#pragma once

#include <string>

namespace qvhost {

// printf to stdout, flushed, one caller at a time: subscribers print from the agent library's threads.
void Say(const wchar_t* format, ...);

// The system's text for a Windows error code, on one line.
std::wstring ErrorText(unsigned long code);

}  // namespace qvhost
