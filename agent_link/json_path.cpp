// Path lookup and parsing over jsoncpp documents.
#include "agent_link/json_path.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/strings/utf8.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The decimal text of a node the library classes as a 32-bit integer, signed or unsigned; false for other nodes.
bool IntegerText(const Json::Value& node, char (&text)[20]) {
    if (node.isInt()) {
        std::snprintf(text, sizeof text, "%d", node.asInt());
    } else if (node.isUInt()) {
        std::snprintf(text, sizeof text, "%u", node.asUInt());
    } else {
        return false;
    }
    return true;
}

}  // namespace

const char* JsonNextSegment(std::string& name, int& index, const char* cursor) {
    name.clear();
    index = -1;
    if (cursor == nullptr || *cursor == '\0') {
        return nullptr;
    }
    while (*cursor != '\0' && !IsSeparator(*cursor) && *cursor != '[') {
        name.push_back(*cursor++);
    }
    if (*cursor == '[') {
        const char* digits = ++cursor;
        while (*cursor != '\0' && *cursor != ']') {
            ++cursor;
        }
        if (*cursor == '\0') {
            return nullptr;
        }
        index = std::atoi(std::string(digits, cursor).c_str());
        ++cursor;
    } else if (IsSeparator(*cursor)) {
        ++cursor;
    }
    if (name.empty() && index < 0) {
        return nullptr;
    }
    return cursor;
}

Json::Value* JsonFindNode(Json::Value* root, const char* path, bool create) {
    if (root == nullptr || path == nullptr || *path == '\0') {
        return nullptr;
    }
    Json::Value* node = root;
    const char* cursor = path;
    if (IsSeparator(*cursor)) {
        ++cursor;
    }
    std::string name;
    int index = -1;
    while (*cursor != '\0') {
        cursor = JsonNextSegment(name, index, cursor);
        if (cursor == nullptr) {
            return nullptr;
        }
        if (!name.empty()) {
            if (!node->isObject()) {
                if (!create) {
                    return nullptr;
                }
                *node = Json::Value();
            }
            if (create) {
                node = &(*node)[name];
            } else {
                // One lookup per segment; a read-only walk never adds the member.
                const Json::Value* member = node->find(name.data(), name.data() + name.size());
                if (member == nullptr) {
                    return nullptr;
                }
                node = const_cast<Json::Value*>(member);
            }
        }
        if (index >= 0) {
            const auto i = static_cast<Json::ArrayIndex>(index);
            if (node->isArray() && node->isValidIndex(i)) {
                node = &(*node)[i];
            } else if (!create || !(node->isNull() || node->isArray())) {
                // Indexing into anything but null or an array is refused by the library; it is a miss here.
                return nullptr;
            } else {
                (*node)[i] = Json::Value();
                node = &(*node)[i];
            }
        }
    }
    if (node->isNull() && !create) {
        return nullptr;
    }
    return node;
}

const Json::Value* JsonFindNode(const Json::Value* root, const char* path) {
    // A read-only lookup never changes the document.
    return JsonFindNode(const_cast<Json::Value*>(root), path, false);
}

bool JsonReadString(std::string& out, const Json::Value* root, const char* path) {
    out.clear();
    const Json::Value* node = JsonFindNode(root, path);
    if (node == nullptr) {
        return false;
    }
    if (node->isString()) {
        out = node->asString();
        return true;
    }
    char text[20];
    if (!IntegerText(*node, text)) {
        return false;
    }
    out = text;
    return true;
}

bool JsonReadWString(std::wstring& out, const Json::Value* root, const char* path) {
    out.clear();
    std::string narrow;
    if (!JsonReadString(narrow, root, path)) {
        return false;
    }
    const qv::WString wide = qv::FromUtf8(narrow.c_str());
    out.assign(wide.c_str(), wide.GetLength());
    return true;
}

bool JsonReadStringT(qv::WString& out, const Json::Value* root, const char* path) {
    out = L"";
    const Json::Value* node = JsonFindNode(root, path);
    if (node == nullptr) {
        return false;
    }
    // Converted straight from the node (or the integer's digits) into out: the same text, up to its first NUL, as
    // through JsonReadString and a wide copy.
    char digits[20];
    const char* text = node->isString() ? node->asCString() : IntegerText(*node, digits) ? digits : nullptr;
    if (text == nullptr) {
        return false;
    }
    qv::AssignFromUtf8(out, text);
    return true;
}

bool JsonParse(Json::Value& out, const char* text) {
    if (text == nullptr) {
        return false;
    }
    try {
        // Read in place: the reader copies what it keeps into the document, so the text needs no copy of its own.
        Json::Reader reader;
        return reader.parse(text, text + std::strlen(text), out, true);
    } catch (const Json::Exception&) {
        // The reader throws for a text nested past its limit: a refusal like any other. Running out of memory
        // is no verdict on the text and reaches the caller.
        out = Json::Value();
        return false;
    }
}

bool JsonParseWide(Json::Value& out, const wchar_t* text) {
    const qv::AString utf8 = qv::ToUtf8(text);
    return JsonParse(out, utf8.c_str());
}
