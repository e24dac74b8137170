// Cost of one policy delivered through ClientImpl::on_run_policy to a subscriber that reads the id and the
// content, against the floor: the work any client must do for the same text (jsoncpp's Json::Reader::parse,
// a copy of the content node, its toStyledString and the UTF-8 to UTF-16 conversion). The difference is the
// client's own work: the trace lines, the id read, the walk under the list's shared lock, the copies the
// subscriber takes. The stand-in log.dll beside this program runs with recording off, so each trace line
// costs its formatting, as with a log.dll that writes nothing at the configured level.
#include <windows.h>

#include <json/json.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "agent_link/client_impl.h"
#include "stand_ins/log/log_stand_in.h"
#include "support/strings/utf8.h"
#include "bench/bench_timing.h"

namespace {

// Reads what a host subscriber reads, so that neither copy can be left out.
class ReadingHandle : public Endpoint::Vorn::IPolicyHandle {
public:
    void OnRunPolicy(const Endpoint::Vorn::IPolicy* policy) override {
        const qv::WString id = policy->GetId();
        const qv::WString content = policy->GetContent();
        characters += id.GetLength() + content.GetLength();
    }
    void OnRemovePolicy(const qv::WString&) override {}
    void OnLiveCommand(Endpoint::Vorn::ILiveCommand*) override {}
    size_t characters = 0;
};

// A policy whose content holds `rules` rule objects (about 100 bytes each).
std::string PolicyText(int rules) {
    std::string text = R"({"polid":"policy-0001","version":3,"description":"nightly scan of the data folders",)"
                       R"("content":{"files":[{"name":"scan","rules":[)";
    for (int i = 0; i < rules; ++i) {
        if (i != 0) {
            text += ',';
        }
        text += R"({"id":)" + std::to_string(i) + R"(,"path":"C:\\Data\\)" + std::to_string(i * 7919) +
                R"(","action":"quarantine","on":true})";
    }
    text += "]}]}}";
    return text;
}

struct Figures {
    double floor_us;
    double client_us;
};

Figures Measure(Endpoint::Vorn::NG::ClientImpl& client, const std::string& text, int rounds, int calls, size_t& sink) {
    vorn::policy_handler& agent_side = client;
    auto floor = [&](long) {
        Json::Reader reader;
        Json::Value document;
        reader.parse(text, document, true);
        const Json::Value content = document["content"]["files"][0];
        const std::string styled = content.toStyledString();
        const qv::WString wide = qv::FromUtf8(styled.c_str());
        sink += wide.GetLength();
    };
    auto delivered = [&](long) { agent_side.on_run_policy(text.c_str()); };
    // Interleaved rounds, best of each: both sides see the same machine state.
    Figures best{1e30, 1e30};
    for (int round = 0; round < rounds; ++round) {
        best.floor_us = std::min(best.floor_us, bench::NanosecondsPerCall(floor, calls) / 1000.0);
        best.client_us = std::min(best.client_us, bench::NanosecondsPerCall(delivered, calls) / 1000.0);
    }
    return best;
}

}  // namespace

int main() {
    Endpoint::Vorn::NG::ClientImpl client;  // binds the stand-in log.dll beside this program
    StandInLogApi api(GetModuleHandleW(L"log.dll"));
    if (!api.Valid()) {
        std::printf("the stand-in log.dll is not beside this program\n");
        return 1;
    }
    api.SetRecording(0);
    ReadingHandle subscriber;
    client.AddPolicyHandle(&subscriber);

    struct Size {
        const char* name;
        std::string text;
        int rounds;
        int calls;
    } sizes[] = {
        {"small", PolicyText(1), 25, 2000},
        {"large", PolicyText(14000), 5, 2},
    };
    size_t sink = 0;
    bool all_delivered = true;
    for (const Size& size : sizes) {
        const size_t before = subscriber.characters;
        const Figures f = Measure(client, size.text, size.rounds, size.calls, sink);
        all_delivered = all_delivered && subscriber.characters > before;
        std::printf("%s policy (%zu bytes):\n", size.name, size.text.size());
        std::printf("  floor (parse, copy, style, convert): %10.1f us per policy\n", f.floor_us);
        std::printf("  on_run_policy to one subscriber:     %10.1f us per policy\n", f.client_us);
        std::printf("  ratio client / floor:                %10.3f  (target <= 1.1)\n", f.client_us / f.floor_us);
    }
    if (!all_delivered || sink == 0) {
        std::printf("the subscriber did not receive the policies\n");
        return 1;
    }
    return 0;
}
