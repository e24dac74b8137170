// Endpoint::Vorn::NG::PolicyImpl: one policy from the agent, parsed, as the subscribers receive it.
#pragma once

#include <json/json.h>

#include "interfaces/policy.h"
#include "support/strings/qv_string.h"

namespace Endpoint::Vorn::NG {

// Made empty, parsed once and destroyed inside the agent callback that received the text; the whole
// document stays here for the policy's short life.
class PolicyImpl final : public IPolicy {
public:
    PolicyImpl();
    ~PolicyImpl() = default;
    PolicyImpl(const PolicyImpl&) = delete;
    PolicyImpl& operator=(const PolicyImpl&) = delete;

    // Parses the agent's UTF-8 policy text: "polid" (a string or a 32-bit integer) gives the id, the one
    // element of the "content/files" array (of at most one element) gives the content. 0, or
    // ERROR_FUNCTION_FAILED after one error message naming the reason; the fields are then filled as far as
    // the parse got and must not be used. Never throws for any text; may throw std::bad_alloc.
    unsigned long Parse(const char* text);

    qv::WString GetId() const override;
    qv::WString GetContent() const override;

private:
    Json::Value document_;
    qv::WString id_;
    qv::WString content_;
};

}  // namespace Endpoint::Vorn::NG
