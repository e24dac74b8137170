// UTF-16 to UTF-8 and back, for what the equipment writes to files, pipes and consoles.
#pragma once

#include <string>

namespace equipment {

// The whole text, embedded NULs included; text the converter cannot represent is replaced as it does that.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace equipment
