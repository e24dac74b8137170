// JsonComposedSerializer: loads the agent's settings document into Settings::Record, section by section.
//
// Each JSON object of the document (conn, conn/proxy, id) is loaded by a serializer made on its own node, field
// by field in a fixed order; the first field that fails stops its section. Every failing node is reported by
// its key at warning level, innermost first, so the log reads "port", "proxy", "conn" for a proxy without a
// port. Fields loaded before a failure keep their new values, the failing field is reset, later fields are
// left as the caller had them.
#pragma once

#include <json/json.h>

#include <vector>

#include "interfaces/settings_record.h"
#include "support/strings/qv_string.h"

namespace Endpoint::Vorn::NG {

class JsonComposedSerializer {
public:
    // The node at path below parent, made (as JSON null) when missing, so that a section's serializer always
    // has a node to look its keys up in; an empty path is parent itself. This changes the document, which is
    // why the loader is given the reader's own parsed copy. A null parent or path gives no node.
    JsonComposedSerializer(Json::Value* parent, const char* path);

    // True when the node is an object holding key with a value other than JSON null.
    bool HasMember(const char* key) const;

    // Text fields: a JSON string or an integer (as its decimal text).
    bool Load(const char* key, qv::WString& field);
    // Integer fields: the 32 bits of a signed or unsigned 32-bit JSON integer.
    bool Load(const char* key, int& field);
    // storeevs: a JSON boolean, or an integer that is true when not 0. Strings are refused.
    bool Load(const char* key, bool& field);
    // srvaddrlist: an array of texts, all or nothing.
    bool Load(const char* key, std::vector<qv::WString>& list);

    bool Load(const char* key, Settings::Connection& conn);
    bool Load(const char* key, Settings::Proxy& proxy);
    bool Load(const char* key, Settings::Identity& id);

private:
    bool LoadList(const char* key, std::vector<qv::WString>& list) const;
    void LoadCustomData(qv::WString& customdata) const;

    Json::Value* node_;
};

}  // namespace Endpoint::Vorn::NG
