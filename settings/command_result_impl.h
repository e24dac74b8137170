// vorn::command_result_impl: keeps the reply of one agent command for the caller that sent it.
#pragma once

#include <string>

#include "agent_link/vorn_comm_client.h"

namespace vorn {

// The agent library fills it before send_command returns; it lives on the sender's stack.
class command_result_impl final : public command_result {
public:
    void set_data(const char* data) override { data_ = data != nullptr ? data : ""; }
    void set_result(long long code) override { result_code_ = code; }

    const std::string& data() const { return data_; }
    long long result_code() const { return result_code_; }

private:
    std::string data_;
    long long result_code_ = 0;
};

}  // namespace vorn
