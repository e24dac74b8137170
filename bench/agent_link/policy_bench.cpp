// Cost of one policy delivered through ClientImpl::on_run_policy to a subscriber that reads the id and the
// content, against two floors measured in the same run:
//   - the JSON floor, the work any client must do for the same text: jsoncpp's Json::Reader::parse reading the
//     text in place, the copy of the content/files node, its element's toStyledString and the conversion to UTF-16;
//   - the design floor: everything the design prescribes for a delivery, each step done the cheapest way and
//     without any check: the trace scope's two lines, the JSON floor, the policy's two strings and its id, one walk
//     under the list's shared lock, and the subscriber's copies.
// The stand-in log.dll beside this program runs with recording off, so each trace line costs its formatting, as
// with a log.dll that writes nothing at the configured level.
#include <windows.h>

#include <json/json.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "agent_link/client_impl.h"
#include "stand_ins/log/log_stand_in.h"
#include "support/logging/log_message.h"
#include "support/strings/utf8.h"
#include "support/sync/event.h"
#include "support/sync/event_walk.h"
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

// UTF-8 to UTF-16 straight into a string's own buffer: one measure, one conversion.
void ConvertInto(qv::WString& out, const char* text) {
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    out.Grow(static_cast<size_t>(needed));
    MultiByteToWideChar(CP_UTF8, 0, text, -1, out.GetBuffer(), needed);
    out.SetLength(static_cast<size_t>(needed - 1));
}

// What the design floor hands to the subscriber: the two strings every policy holds.
class BarePolicy : public Endpoint::Vorn::IPolicy {
public:
    qv::WString GetId() const override { return id; }
    qv::WString GetContent() const override { return content; }
    qv::WString id{64};
    qv::WString content{64};
};

using RunPolicyEvent = Event<MemberFunction_1_args<Endpoint::Vorn::IPolicyHandle, void, const Endpoint::Vorn::IPolicy*>,
                             &Endpoint::Vorn::IPolicyHandle::OnRunPolicy>;

constexpr wchar_t kTraced[] = L"Endpoint::Vorn::NG::ClientImpl::on_run_policy";

struct Size {
    const char* name;
    std::string text;
    int rounds;
    long calls;
    double target;
};

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
    vorn::policy_handler& agent_side = client;
    // The floor's walk reaches a subscriber of its own, so that the check below sees the client's deliveries only.
    ReadingHandle bare_subscriber;
    SynchronyzedObjectContainer<Endpoint::Vorn::IPolicyHandle*> bare_list;
    bare_list.Add(&bare_subscriber);
    RunPolicyEvent bare_event(&bare_list);

    const Size sizes[] = {
        {"small", PolicyText(1), 41, 1000, 1.10},
        {"1 MB", PolicyText(14000), 7, 2, 1.02},
    };
    size_t sink = 0;
    for (const Size& size : sizes) {
        const char* text = size.text.c_str();
        auto json_floor = [&](long) {
            Json::Reader reader;
            Json::Value document;
            reader.parse(text, text + std::strlen(text), document, true);
            const Json::Value files = document["content"]["files"];
            const std::string styled = files[0].toStyledString();
            qv::WString content(64);
            ConvertInto(content, styled.c_str());
            sink += content.GetLength();
        };
        auto delivered = [&](long) { agent_side.on_run_policy(text); };
        auto design_floor = [&](long) {
            logging::TraceScope scope(kTraced);
            Json::Reader reader;
            Json::Value document;
            reader.parse(text, text + std::strlen(text), document, true);
            BarePolicy policy;
            ConvertInto(policy.id, document.find("polid", "polid" + 5)->asCString());
            const Json::Value files = *document.find("content", "content" + 7)->find("files", "files" + 5);
            ConvertInto(policy.content, files[0].toStyledString().c_str());
            NotifyEach(bare_event, static_cast<const Endpoint::Vorn::IPolicy*>(&policy));
        };
        const size_t received_before = subscriber.characters;
        const bench::Rounds rounds(size.rounds,
                                   {[&] { return bench::NanosecondsPerCall(json_floor, size.calls) / 1000; },
                                    [&] { return bench::NanosecondsPerCall(delivered, size.calls) / 1000; },
                                    [&] { return bench::NanosecondsPerCall(design_floor, size.calls) / 1000; }});
        if (subscriber.characters == received_before) {
            std::printf("the subscriber did not receive the policies\n");
            return 1;
        }
        std::printf("%s policy (%zu bytes), median of %d interleaved rounds [lowest .. highest]:\n", size.name,
                    size.text.size(), size.rounds);
        bench::PrintFigure("JSON floor (parse, copy, style, convert)", rounds.Of(0), "us");
        bench::PrintFigure("on_run_policy to one subscriber", rounds.Of(1), "us");
        bench::PrintFigure("design floor (trace, JSON floor, id, walk, copies)", rounds.Of(2), "us");
        bench::PrintRatio("client / JSON floor", rounds.Ratio(1, 0), bench::AtMost(size.target));
        bench::PrintRatio("design floor / JSON floor", rounds.Ratio(2, 0), bench::NoTarget());
        bench::PrintFloorVerdict(rounds.Ratio(2, 0), bench::AtMost(size.target));
        bench::PrintRatio("client / design floor", rounds.Ratio(1, 2), bench::NoTarget());
        std::printf("\n");
    }
    return sink != 0 ? 0 : 1;
}
