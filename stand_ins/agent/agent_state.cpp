// The simulated agent's state folder: policies, removals, settings and events.
#include "stand_ins/agent/agent_state.h"

#include <json/json.h>

#include <memory>

#include "equipment/files.h"
#include "equipment/folders.h"
#include "equipment/text.h"
#include "stand_ins/agent/agent_protocol.h"

using equipment::AppendToFile;
using equipment::ListFiles;
using equipment::ReadWholeFile;
using equipment::ReplaceFileAtomically;
using equipment::ToUtf8;

namespace vorn_agent {

namespace {

bool ParseJson(const std::string& text, Json::Value& value) {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    try {
        return reader->parse(text.data(), text.data() + text.size(), &value, &errors);
    } catch (const std::exception&) {
        return false;  // nested beyond the reader's limit
    }
}

void JournalDocument(AgentJournal& journal, const Json::Value& document) {
    Json::Value line(Json::objectValue);
    line["what"] = "settings";
    line["document"] = document;
    journal.Write(std::move(line));
}

void MergeInto(Json::Value& target, const Json::Value& change) {
    for (const std::string& name : change.getMemberNames()) {
        const Json::Value& value = change[name];
        if (value.isObject() && target.isMember(name) && target[name].isObject()) {
            MergeInto(target[name], value);
        } else {
            target[name] = value;
        }
    }
}

}  // namespace

AgentState::AgentState(std::wstring folder, AgentLog& log, AgentJournal& journal)
    : folder_(std::move(folder)), log_(log), journal_(journal) {}

std::vector<PolicyFile> AgentState::Files(const wchar_t* subfolder) {
    std::vector<PolicyFile> files;
    const std::wstring folder = folder_ + L"\\" + subfolder;
    for (const std::wstring& name : ListFiles(folder, L".json")) {
        PolicyFile file;
        const DWORD error = ReadWholeFile(folder + L"\\" + name, kMaxText, file.text);
        if (error != ERROR_SUCCESS) {
            log_.Write("cannot read %s: error %lu; left out", ToUtf8(folder + L"\\" + name).c_str(), error);
            continue;
        }
        file.source = ToUtf8(std::wstring(subfolder) + L"/" + name);
        file.polid = PolicyIdOf(file.text);
        files.push_back(std::move(file));
    }
    return files;
}

void AgentState::JournalSettings() {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    std::string text;
    Json::Value document;
    if (ReadWholeFile(folder_ + L"\\settings.json", kMaxText, text) == ERROR_SUCCESS && ParseJson(text, document)) {
        JournalDocument(journal_, document);
    }
}

DWORD AgentState::GetSettings(std::string& text) {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    const DWORD error = ReadWholeFile(folder_ + L"\\settings.json", kMaxText, text);
    if (error != ERROR_SUCCESS) {
        log_.Write("get_settings: cannot read settings.json: error %lu", error);
    }
    return error;
}

DWORD AgentState::UpdateSettings(const char* change) {
    Json::Value parsed;
    if (change == nullptr || !ParseJson(change, parsed) || !(parsed.isObject() || parsed.isNull())) {
        log_.Write("update settings: refused a change that is not a JSON object: %.200s",
                   change != nullptr ? change : "(null)");
        return ERROR_INVALID_DATA;
    }
    if (parsed.isNull()) {
        return ERROR_SUCCESS;
    }
    std::lock_guard<std::mutex> lock(settings_mutex_);
    const std::wstring path = folder_ + L"\\settings.json";
    std::string current_text;
    DWORD error = ReadWholeFile(path, kMaxText, current_text);
    Json::Value current(Json::objectValue);
    if (error == ERROR_FILE_NOT_FOUND) {
        error = ERROR_SUCCESS;
    } else if (error == ERROR_SUCCESS && (!ParseJson(current_text, current) || !current.isObject())) {
        log_.Write("update settings: settings.json does not hold a JSON object; left as it is");
        return ERROR_INVALID_DATA;
    }
    if (error != ERROR_SUCCESS) {
        log_.Write("update settings: cannot read settings.json: error %lu", error);
        return error;
    }
    MergeInto(current, parsed);
    error = ReplaceFileAtomically(path, current.toStyledString());
    if (error != ERROR_SUCCESS) {
        log_.Write("update settings: cannot write settings.json: error %lu", error);
        return error;
    }
    JournalDocument(journal_, current);
    return ERROR_SUCCESS;
}

DWORD AgentState::AppendEvent(const EventRecord& event) {
    Json::Value line(Json::objectValue);
    line["client"] = event.client_number;
    line["priority"] = event.priority;
    line["type"] = Json::UInt64(event.type);
    line["subtype"] = Json::UInt64(event.subtype);
    line["flags"] = Json::UInt64(event.flags);
    line["wait"] = event.wait;
    line["text"] = event.text_null ? Json::Value() : Json::Value(event.text);
    Json::Value parsed;
    if (!event.text_null && ParseJson(event.text, parsed)) {
        line["event"] = parsed;
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    const std::string text = Json::writeString(builder, line) + "\n";

    std::lock_guard<std::mutex> lock(events_mutex_);
    const DWORD error = AppendToFile(folder_ + L"\\events.jsonl", text);
    if (error != ERROR_SUCCESS) {
        log_.Write("cannot append to events.jsonl: error %lu", error);
    }
    return error;
}

}  // namespace vorn_agent
