// Loading the settings document: leaf coercions, the list load and the three sections.
#include "settings/json_composed_serializer.h"

#include <cstdio>
#include <new>
#include <utility>

#include "agent_link/json_path.h"
#include "support/logging/log_message.h"
#include "support/strings/utf8.h"

namespace Endpoint::Vorn::NG {

namespace {

constexpr wchar_t kLoadName[] = L"JsonComposedSerializer::Load";

void WarnSubnode(const char* key) {
    const qv::WString wide_key = qv::FromUtf8(key);
    logging::WriteMessage(logging::LevelWarning, kLoadName, L"Failed to load subnode %s", wide_key.GetString());
}

// A field load's verdict: a failure is reported by the field's key.
bool Reported(bool loaded, const char* key) {
    if (!loaded) {
        WarnSubnode(key);
    }
    return loaded;
}

// Copies a value that may be too big to have twice. The settings are worth having without their customdata, so
// only this copy's failure is taken here: jsoncpp reports a string it could not allocate with its own exception,
// any other allocation with std::bad_alloc. Running out of memory anywhere else still reaches the caller.
bool CopyValue(const Json::Value& from, Json::Value& to) {
    try {
        to = from;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const Json::Exception&) {
        return false;
    }
}

}  // namespace

JsonComposedSerializer::JsonComposedSerializer(Json::Value* parent, const char* path)
    : node_(parent == nullptr || path == nullptr ? nullptr
            : *path == '\0'                      ? parent
                                                 : JsonFindNode(parent, path, true)) {}

bool JsonComposedSerializer::HasMember(const char* key) const {
    if (node_ == nullptr || !node_->isObject()) {
        return false;
    }
    const Json::Value& node = *node_;
    return !node[key].isNull();
}

bool JsonComposedSerializer::Load(const char* key, qv::WString& field) {
    if (node_ == nullptr) {
        return false;
    }
    return Reported(JsonReadStringT(field, node_, key), key);
}

bool JsonComposedSerializer::Load(const char* key, int& field) {
    if (node_ == nullptr) {
        return false;
    }
    field = 0;
    const Json::Value* value = JsonFindNode(static_cast<const Json::Value*>(node_), key);
    bool loaded = false;
    if (value != nullptr && value->isInt()) {
        field = value->asInt();
        loaded = true;
    } else if (value != nullptr && value->isUInt()) {
        // The agent may send the unsigned form of a 32-bit field; the field keeps its bits.
        field = static_cast<int>(value->asUInt());
        loaded = true;
    }
    return Reported(loaded, key);
}

bool JsonComposedSerializer::Load(const char* key, bool& field) {
    if (node_ == nullptr) {
        return false;
    }
    field = false;
    const Json::Value* value = JsonFindNode(static_cast<const Json::Value*>(node_), key);
    bool loaded = false;
    if (value != nullptr && value->isBool()) {
        field = value->asBool();
        loaded = true;
    } else if (value != nullptr && value->isInt()) {
        field = value->asInt() != 0;
        loaded = true;
    } else if (value != nullptr && value->isUInt()) {
        field = value->asUInt() != 0;
        loaded = true;
    }
    return Reported(loaded, key);
}

bool JsonComposedSerializer::Load(const char* key, std::vector<qv::WString>& list) {
    if (node_ == nullptr) {
        return false;
    }
    return Reported(LoadList(key, list), key);
}

bool JsonComposedSerializer::LoadList(const char* key, std::vector<qv::WString>& list) const {
    list.clear();
    const Json::Value* array = JsonFindNode(static_cast<const Json::Value*>(node_), key);
    if (array == nullptr || !array->isArray()) {
        return false;
    }
    const Json::ArrayIndex count = array->size();
    if (count > list.capacity()) {
        list.reserve(count);
    }
    for (Json::ArrayIndex i = 0; i < count; ++i) {
        // The element is reached by its path ("srvaddrlist[0]") so that it is read exactly as any other text.
        char path[300];
        std::snprintf(path, sizeof path, "%s[%i]", key, static_cast<int>(i));
        qv::WString element;
        if (JsonFindNode(static_cast<const Json::Value*>(node_), path) == nullptr ||
            !JsonReadStringT(element, node_, path)) {
            list.clear();
            return false;
        }
        list.push_back(std::move(element));
    }
    return true;
}

bool JsonComposedSerializer::Load(const char* key, Settings::Connection& conn) {
    if (node_ == nullptr) {
        return false;
    }
    JsonComposedSerializer section(node_, key);
    const bool loaded = section.Load("srvaddrlist", conn.srvaddrlist) &&
                        (!section.HasMember("srvaddr") || section.Load("srvaddr", conn.srvaddr)) &&
                        (!section.HasMember("storeevs") || section.Load("storeevs", conn.storeevs)) &&
                        (!section.HasMember("timesec") || section.Load("timesec", conn.timesec)) &&
                        (!section.HasMember("proxy") || section.Load("proxy", conn.proxy));
    return Reported(loaded, key);
}

bool JsonComposedSerializer::Load(const char* key, Settings::Proxy& proxy) {
    if (node_ == nullptr) {
        return false;
    }
    JsonComposedSerializer section(node_, key);
    const bool loaded = section.Load("server", proxy.server) && section.Load("port", proxy.port) &&
                        section.Load("username", proxy.username) && section.Load("password", proxy.password);
    return Reported(loaded, key);
}

bool JsonComposedSerializer::Load(const char* key, Settings::Identity& id) {
    if (node_ == nullptr) {
        return false;
    }
    JsonComposedSerializer section(node_, key);
    const bool loaded = section.Load("appid", id.appid) && section.Load("custid", id.custid) &&
                        section.Load("userid", id.userid) &&
                        (!section.HasMember("groupid") || section.Load("groupid", id.groupid)) &&
                        (!section.HasMember("token") || section.Load("token", id.token));
    if (!loaded) {
        return Reported(false, key);
    }
    section.LoadCustomData(id.customdata);
    return true;
}

void JsonComposedSerializer::LoadCustomData(qv::WString& customdata) const {
    static constexpr char kKey[] = "customdata";
    if (!HasMember(kKey)) {
        return;
    }
    const Json::Value* found = JsonFindNode(static_cast<const Json::Value*>(node_), kKey);
    Json::Value value;
    if (found == nullptr || !CopyValue(*found, value)) {
        WarnSubnode(kKey);
        return;
    }
    // Any JSON value is accepted; the host gets it back as text that SetCustomData takes unchanged.
    customdata = qv::FromUtf8(value.toStyledString().c_str());
}

}  // namespace Endpoint::Vorn::NG
