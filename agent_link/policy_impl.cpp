// Parsing the agent's policy text into a PolicyImpl.
#include "agent_link/policy_impl.h"

#include <windows.h>

#include <string>

#include "agent_link/json_path.h"
#include "support/logging/log_message.h"
#include "support/strings/utf8.h"

namespace Endpoint::Vorn::NG {

namespace {

// Both strings start with room for a typical id, so that short ids never reallocate.
constexpr size_t kInitialCapacity = 64;

}  // namespace

PolicyImpl::PolicyImpl() : id_(kInitialCapacity), content_(kInitialCapacity) {}

constexpr wchar_t kParse[] = L"Endpoint::Vorn::NG::PolicyImpl::Parse";

unsigned long PolicyImpl::Parse(const char* text) {
    // The messages carry the raw text; a null text from the agent is logged as the empty text.
    const char* shown = text != nullptr ? text : "";
    if (!JsonParse(document_, text)) {
        logging::WriteMessage(logging::LevelError, kParse, L"failed to parse json: %S", shown);
        return ERROR_FUNCTION_FAILED;
    }
    if (!JsonReadStringT(id_, &document_, "polid")) {
        logging::WriteMessage(logging::LevelError, kParse, L"failed to get policy id from json: %S", shown);
        return ERROR_FUNCTION_FAILED;
    }
    const Json::Value* node = JsonFindNode(&document_, "content/files");
    if (node == nullptr) {
        logging::WriteMessage(logging::LevelError, kParse, L"failed to get [content/files] from policy");
        return ERROR_FUNCTION_FAILED;
    }
    Json::Value files = *node;
    if (!files.isArray()) {
        logging::WriteMessage(logging::LevelError, kParse, L"[content/files] is not array");
        return ERROR_FUNCTION_FAILED;
    }
    if (files.size() > 1) {
        logging::WriteMessage(logging::LevelError, kParse, L"unexpected size [%d] for [content/files]",
                              static_cast<int>(files.size()));
        return ERROR_FUNCTION_FAILED;
    }
    // An empty array gains a null element here, so an empty payload reads as the text of JSON null.
    const std::string styled = files[0].toStyledString();
    qv::AssignFromUtf8(content_, styled.c_str());
    return ERROR_SUCCESS;
}

qv::WString PolicyImpl::GetId() const { return id_; }

qv::WString PolicyImpl::GetContent() const { return content_; }

}  // namespace Endpoint::Vorn::NG
