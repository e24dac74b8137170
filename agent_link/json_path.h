// Slash-separated paths into JSON documents, and the parse operations for every JSON text received.
//
// A path is a sequence of segments separated by "/" or "\"; a segment is a member name followed by zero or
// more "[n]" index groups, or index groups alone ("content/files", "conn/proxy/port", "srvaddrlist[0]").
// One separator at the very start is ignored. None of these operations writes a log line or throws for its input.
#pragma once

#include <json/json.h>

#include <string>

#include "support/strings/qv_string.h"

// Reads the segment at cursor: its member name (may be empty) and its index (-1 when it has none).
// Returns the cursor just past the segment, or null at the end of the path or for a malformed segment.
const char* JsonNextSegment(std::string& name, int& index, const char* cursor);

// The node at path below root, or null. With create, missing members and elements are added as JSON null and
// any non-object on the way of a member name is replaced by an object, so the document changes.
Json::Value* JsonFindNode(Json::Value* root, const char* path, bool create);
const Json::Value* JsonFindNode(const Json::Value* root, const char* path);

// The text at path: a JSON string as it stands (UTF-8), an integer as its decimal text. Other types fail and
// leave out empty.
bool JsonReadString(std::string& out, const Json::Value* root, const char* path);

// The same text as UTF-16, in a standard wide string or in the plug-in's own string.
bool JsonReadWString(std::wstring& out, const Json::Value* root, const char* path);
bool JsonReadStringT(qv::WString& out, const Json::Value* root, const char* path);

// Parses UTF-8 text (null fails) with comments collected. A text the library refuses, by its verdict or by
// throwing (nesting too deep), fails; after a throw out is JSON null. std::bad_alloc passes to the caller.
bool JsonParse(Json::Value& out, const char* text);

// Parses UTF-16 text (null or empty fails) after converting it to UTF-8.
bool JsonParseWide(Json::Value& out, const wchar_t* text);
