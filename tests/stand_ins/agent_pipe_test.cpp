// The simulated agent's pipe protocol refuses bad frames: each one drops its connection with a log line, and the
// agent goes on serving the well-behaved client beside it. Host engineers who rehearse against the simulated agent
// rely on that; no plug-in test would notice it breaking.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "agent_link/vorn_comm_client.h"
#include "equipment/folders.h"
#include "equipment/worker_thread.h"
#include "stand_ins/agent/agent_protocol.h"
#include "stand_ins/agent/agent_server.h"
#include "stand_ins/vornint/vornint_control.h"
#include "tests/named_rows.h"

using namespace equipment;

namespace {

using namespace vorn_agent;

std::string Header(uint32_t kind, uint32_t id, uint32_t length) {
    std::string bytes;
    for (uint32_t word : {kMagic, kind, id, length}) {
        bytes.append(reinterpret_cast<const char*>(&word), 4);  // little-endian, as on the wire
    }
    return bytes;
}

std::string Encode(uint32_t kind, uint32_t id, const std::string& payload) {
    return Header(kind, id, static_cast<uint32_t>(payload.size())) + payload;
}

std::string Hello() { return Encode(kHello, 0, PayloadWriter().I32(99).U32(kWantsNotifications).Text("raw").Take()); }

struct Reply : vorn::command_result {
    void set_data(const char* text) override { data = text != nullptr ? text : ""; }
    void set_result(long long) override {}
    std::string data;
};

struct Notifications : vorn::notification_handler {
    void on_notification(int id, const char*) override { ids += std::to_string(id); }
    std::string ids;
};

}  // namespace

TEST(AgentPipe, ABadFrameDropsOnlyItsOwnConnection) {
    TempFolder folder;
    CreateDirectoryW(folder.File(L"policies").c_str(), nullptr);
    CreateDirectoryW(folder.File(L"removals").c_str(), nullptr);
    ASSERT_TRUE(folder.Write(L"settings.json", R"({"id":{"appid":1}})"));
    AgentOptions options;
    options.state_dir = folder.Dir();
    options.pipe_name = L"\\\\.\\pipe\\vorn-agent-test-" + std::to_wstring(GetCurrentProcessId());
    options.frame_timeout_ms = 300;
    AgentServer agent;
    ASSERT_EQ(agent.Start(options), 0u);
    vornint_reset();
    vornint_connect_to_agent(options.pipe_name.c_str());
    Notifications notifications;
    vorn::vorn_comm_client good(12, "vorn");
    good.register_notification_handler(&notifications);
    ASSERT_EQ(good.start_async(), 0);
    ASSERT_TRUE(Eventually([&] { return good.is_connected(); }));

    const std::pair<const char*, std::string> frames[] = {
        {"refused: bad frame magic", "XXXXXXXXXXXXXXXXXXXXXXXX"},
        {"exceeds the limit", Header(kHello, 0, kMaxPayload + 1)},
        {"peer closed the pipe inside a frame", Hello().substr(0, 7)},
        {"did not complete in time", Header(kEvent, 1, 64) + "partial"},
        {"unexpected frame kind", Hello() + Encode(kRunPolicy, 1, "x")},
        {"malformed event frame", Hello() + Encode(kEvent, 1, "\x01\x02")},
        {"the first frame is not a well-formed hello",
         Encode(kCommand, 1, PayloadWriter().I32(1).Text(nullptr).Take())},
    };
    ForEachRow(frames, [&](const auto& frame) {
        const char* line = frame.first;
        const std::string& bytes = frame.second;
        HANDLE raw = INVALID_HANDLE_VALUE;
        ASSERT_TRUE(Eventually([&] {
            raw = CreateFileW(options.pipe_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
            return raw != INVALID_HANDLE_VALUE;
        }));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(raw, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        if (std::string(line).find("inside a frame") != std::string::npos) {
            CloseHandle(raw);
            raw = INVALID_HANDLE_VALUE;
        }
        EXPECT_TRUE(Eventually([&] { return folder.Read(L"agent.log").find(line) != std::string::npos; }));
        if (raw != INVALID_HANDLE_VALUE) {
            // Dropped: the agent closed its end, so reading fails once whatever it sent is gone.
            EXPECT_TRUE(Eventually([&] {
                DWORD available = 0;
                if (!PeekNamedPipe(raw, nullptr, 0, nullptr, &available, nullptr)) {
                    return true;
                }
                std::string sink(available, '\0');
                return available > 0 && !ReadFile(raw, &sink[0], available, &available, nullptr);
            }));
            CloseHandle(raw);
        }
    });
    EXPECT_GE(agent.Refused(), std::size(frames));
    Reply reply;
    EXPECT_EQ(good.send_command(1, nullptr, &reply, 15000), 0);
    EXPECT_EQ(reply.data, R"({"id":{"appid":1}})");
    EXPECT_EQ(notifications.ids, "4") << "the good client was disturbed";
    good.stop();
    agent.Stop();
    vornint_reset();
}
