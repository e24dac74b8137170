// The simulated agent's journal file.
#include "stand_ins/agent/agent_journal.h"

#include <windows.h>

#include <cstdio>
#include <memory>

#include "stand_ins/agent/agent_clock.h"
#include "equipment/files.h"
#include "equipment/text.h"

using equipment::AppendToFile;
using equipment::ToUtf8;

namespace vorn_agent {

void AgentJournal::Open(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
}

void AgentJournal::Write(Json::Value line) {
    line["us"] = Json::Int64(NowMicroseconds());
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    const std::string text = Json::writeString(builder, line) + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    const DWORD error = AppendToFile(path_, text);
    if (error != ERROR_SUCCESS && failures_++ == 0) {
        fprintf(stderr, "vorn-agent: cannot append to %s: error %lu; the journal is incomplete\n",
                ToUtf8(path_).c_str(), error);
    }
}

std::string PolicyIdOf(const std::string& text) {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    try {
        if (reader->parse(text.data(), text.data() + text.size(), &value, &errors) && value.isObject() &&
            value["polid"].isString()) {
            return value["polid"].asString();
        }
    } catch (const std::exception&) {
        // Nested beyond the reader's limit: no id to name.
    }
    return std::string();
}

}  // namespace vorn_agent
