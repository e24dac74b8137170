// Bad input at the simulated agent's pipe, from either side: a seeded loop of garbage, truncated, oversized and
// malformed frames against the agent (raw pipe clients) and against a connected vornint.dll client (a fake agent).
// Each side must refuse the connection, log why, and go on serving.
#include <windows.h>

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "agent_link/vorn_comm_client.h"
#include "stand_ins/agent/agent_protocol.h"
#include "stand_ins/agent/agent_server.h"
#include "stand_ins/vornint/vornint_control.h"
#include "tests/stand_ins/agent_test_support.h"
#include "tests/support/sync/worker_thread.h"

namespace {

using agent_test::Handler;
using agent_test::Result;
using agent_test::StateFolder;
using vorn_agent::Frame;
using vorn_agent::IoStatus;
using vorn_agent::PayloadWriter;

constexpr unsigned kSeed = 20240611;

std::string Header(uint32_t kind, uint32_t id, uint32_t length) {
    std::string bytes;
    for (uint32_t word : {vorn_agent::kMagic, kind, id, length}) {
        for (int n = 0; n < 4; ++n) {
            bytes.push_back(static_cast<char>((word >> (8 * n)) & 0xFF));
        }
    }
    return bytes;
}

std::string Encode(uint32_t kind, uint32_t id, const std::string& payload) {
    return Header(kind, id, static_cast<uint32_t>(payload.size())) + payload;
}

std::string Garbage(std::mt19937& random, size_t min, size_t max) {
    std::string bytes(std::uniform_int_distribution<size_t>(min, max)(random), '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    bytes[0] = 'X';  // never the magic
    return bytes;
}

std::string Hello() {
    return Encode(vorn_agent::kHello, 0,
                  PayloadWriter().I32(99).U32(vorn_agent::kWantsNotifications).Text("raw").Take());
}

// A raw, synchronous client end of the agent's pipe.
class RawClient {
public:
    explicit RawClient(const std::wstring& pipe) {
        sync_test::Eventually([&] {
            handle_ = CreateFileW(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            return handle_ != INVALID_HANDLE_VALUE;
        });
    }
    ~RawClient() { Close(); }
    bool Open() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Send(const std::string& bytes) {
        DWORD written = 0;
        return WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
    }
    void Close() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }
    // Reads whatever the agent sends until it closes its end; false if it has not within kWaitMs.
    bool WaitDropped() {
        return sync_test::Eventually([&] {
            DWORD available = 0;
            if (!PeekNamedPipe(handle_, nullptr, 0, nullptr, &available, nullptr)) {
                return true;
            }
            if (available > 0) {
                std::string sink(available, '\0');
                DWORD got = 0;
                ReadFile(handle_, &sink[0], available, &got, nullptr);
            }
            return false;
        });
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST(AgentPipeRobustness, AgentRefusesBadFramesAndKeepsServing) {
    StateFolder folder;
    ASSERT_TRUE(folder.Write(L"settings.json", R"({"conn":{"srvaddrlist":[]},"id":{"appid":1}})"));
    ASSERT_TRUE(folder.Write(L"policies\\a.json", R"({"polid":"A"})"));
    vornint_reset();
    vorn_agent::AgentOptions options;
    options.state_dir = folder.Dir();
    options.pipe_name = agent_test::UniquePipe();
    options.frame_timeout_ms = 300;
    vorn_agent::AgentServer agent;
    ASSERT_EQ(0u, agent.Start(options));

    // A well-behaved client stays connected through it all.
    vornint_connect_to_agent(options.pipe_name.c_str());
    Handler good_handler;
    vorn::vorn_comm_client good(12, "vorn");
    good.register_notification_handler(&good_handler);
    ASSERT_EQ(0, good.start_async());
    ASSERT_TRUE(good_handler.WaitForCount("notification", 1));

    std::mt19937 random(kSeed);
    unsigned long refusals = 0;
    for (int round = 0; round < 80; ++round) {
        const int kind = static_cast<int>(random() % 10);
        SCOPED_TRACE("seed " + std::to_string(kSeed) + " round " + std::to_string(round) + " case " +
                     std::to_string(kind));
        RawClient raw(options.pipe_name);
        ASSERT_TRUE(raw.Open());
        bool refused = true;
        switch (kind) {
            case 0:  // garbage
                raw.Send(Garbage(random, 16, 512));
                break;
            case 1:  // a length beyond the limit
                raw.Send(Header(vorn_agent::kHello, 0, vorn_agent::kMaxPayload + 1 + random() % 100000));
                break;
            case 2:  // the peer goes away inside the header
                raw.Send(Hello().substr(0, 1 + random() % (vorn_agent::kHeaderSize - 1)));
                raw.Close();
                break;
            case 3: {  // the peer goes away inside the payload
                const std::string hello = Hello();
                raw.Send(
                    hello.substr(0, vorn_agent::kHeaderSize + random() % (hello.size() - vorn_agent::kHeaderSize)));
                raw.Close();
                break;
            }
            case 4:  // the peer stalls inside a frame
                raw.Send(Header(vorn_agent::kEvent, 1, 64) + "partial");
                break;
            case 5:  // a kind that clients never send
                raw.Send(Hello() + Encode(vorn_agent::kRunPolicy + random() % 5, 1, "x"));
                break;
            case 6:  // an event whose fields do not decode
                raw.Send(Hello() + Encode(vorn_agent::kEvent, 1, Garbage(random, 1, 40)));
                break;
            case 7:  // anything but a hello first
                raw.Send(Encode(vorn_agent::kCommand, 1, PayloadWriter().I32(1).Text(nullptr).Take()));
                break;
            case 8:  // a text that claims more bytes than the frame holds
                raw.Send(Encode(vorn_agent::kHello, 0,
                                PayloadWriter().I32(1).U32(0).Take() + std::string("\0", 1) +
                                    Header(0, 0, 0).substr(0, 4) + "abc"));
                break;
            default:  // a command, and gone before the answer
                raw.Send(Hello() + Encode(vorn_agent::kCommand, 5, PayloadWriter().I32(1).Text(nullptr).Take()));
                raw.Close();
                refused = false;
                break;
        }
        if (kind == 2 || kind == 3 || kind == 9) {
            continue;  // closed already
        }
        EXPECT_TRUE(raw.WaitDropped());
        refusals += refused ? 1 : 0;
    }

    ASSERT_TRUE(sync_test::Eventually([&] { return agent.Clients() == 1; }));
    EXPECT_GE(agent.Refused(), refusals);
    EXPECT_TRUE(agent.Running());
    Result result;
    EXPECT_EQ(0, good.send_command(1, nullptr, &result, 15000));
    EXPECT_EQ(R"({"conn":{"srvaddrlist":[]},"id":{"appid":1}})", result.data);
    EXPECT_EQ(std::vector<int>{4}, good_handler.NotificationIds());

    Handler late_handler;
    vorn::vorn_comm_client late(3, "vorn");
    late.register_policy_handler(&late_handler);
    ASSERT_EQ(0, late.start_async());
    ASSERT_TRUE(late_handler.WaitForCount("run", 1));
    late.stop();
    good.stop();

    const std::string log = folder.Read(L"agent.log");
    for (const char* line : {"refused: bad frame magic", "exceeds the limit", "peer closed the pipe inside a frame",
                             "did not complete in time", "unexpected frame kind", "malformed event frame",
                             "the first frame is not a well-formed hello"}) {
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    }
    agent.Stop();
    vornint_reset();
}

// One end of a pipe that plays the agent badly: one instance at a time, overlapped.
class FakeAgent {
public:
    explicit FakeAgent(const std::wstring& pipe) : pipe_(pipe) {}
    ~FakeAgent() { Close(); }

    // Waits for the client's connection and its hello.
    bool Accept() {
        HANDLE handle = CreateNamedPipeW(pipe_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return false;
        }
        handle_ = handle;
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        bool connected = ConnectNamedPipe(handle_, &overlapped) || GetLastError() == ERROR_PIPE_CONNECTED;
        if (!connected && GetLastError() == ERROR_IO_PENDING) {
            if (WaitForSingleObject(event, agent_test::kWaitMs) != WAIT_OBJECT_0) {
                CancelIoEx(handle_, &overlapped);
            }
            DWORD ignored = 0;
            connected = GetOverlappedResult(handle_, &overlapped, &ignored, TRUE) != FALSE;
        }
        CloseHandle(event);
        Frame hello;
        return connected &&
               vorn_agent::ReadFrame(handle_, nullptr, agent_test::kWaitMs, hello, agent_test::kWaitMs).status ==
                   IoStatus::kOk &&
               hello.kind == vorn_agent::kHello;
    }
    bool Read(Frame& frame) {
        return vorn_agent::ReadFrame(handle_, nullptr, agent_test::kWaitMs, frame, agent_test::kWaitMs).status ==
               IoStatus::kOk;
    }
    bool Send(const std::string& bytes) {
        return vorn_agent::WriteBytes(handle_, nullptr, agent_test::kWaitMs, bytes.data(), bytes.size()).status ==
               IoStatus::kOk;
    }
    // True when the client closes its end within kWaitMs; anything it sends meanwhile is read and ignored.
    bool WaitClientGone() {
        for (;;) {
            Frame frame;
            const IoStatus status =
                vorn_agent::ReadFrame(handle_, nullptr, agent_test::kWaitMs, frame, agent_test::kWaitMs).status;
            if (status != IoStatus::kOk) {
                return status == IoStatus::kClosed;
            }
        }
    }
    void Close() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }

private:
    std::wstring pipe_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST(AgentPipeRobustness, ConnectedClientRefusesBadFramesAndFindsTheRealAgentAfter) {
    StateFolder folder;
    ASSERT_TRUE(folder.Write(L"settings.json", R"({"id":{"custid":"C"}})"));
    const std::wstring log = folder.File(L"vornint.log");
    ScopedEnvironment vornint_log(L"VORNINT_LOG", log.c_str());
    const std::wstring pipe = agent_test::UniquePipe();
    vornint_reset();
    vornint_connect_to_agent(pipe.c_str());
    Handler handler;
    vorn::vorn_comm_client client(12, "vorn");
    client.register_notification_handler(&handler);
    ASSERT_EQ(0, client.start_async());

    const std::string up =
        Encode(vorn_agent::kNotification, 0, PayloadWriter().I32(4).Text("{\"server\":\"up\"}").Take());
    std::vector<int> expected_ids;
    std::mt19937 random(kSeed);
    for (int round = 0; round < 40; ++round) {
        const int kind = static_cast<int>(random() % 8);
        SCOPED_TRACE("seed " + std::to_string(kSeed) + " round " + std::to_string(round) + " case " +
                     std::to_string(kind));
        FakeAgent fake(pipe);
        ASSERT_TRUE(fake.Accept());
        bool client_drops = true;
        switch (kind) {
            case 0:
                fake.Send(Garbage(random, 16, 512));
                break;
            case 1:
                fake.Send(Header(vorn_agent::kReply, 1, vorn_agent::kMaxPayload + 1 + random() % 100000));
                break;
            case 2:  // gone inside a frame
                fake.Send(up.substr(0, 1 + random() % (up.size() - 1)));
                client_drops = false;
                break;
            case 3:  // a kind that the agent never sends
                fake.Send(Encode(vorn_agent::kHello + random() % 3, 0, "x"));
                break;
            case 4:  // a notification whose fields do not decode
                fake.Send(Encode(vorn_agent::kNotification, 0, Garbage(random, 1, 7)));
                break;
            case 5:  // up, then garbage: the client must tell its handler that the server is down
                fake.Send(up + Garbage(random, 16, 64));
                expected_ids.insert(expected_ids.end(), {4, 5});
                break;
            case 6:  // up, then gone without a goodbye
                fake.Send(up);
                ASSERT_TRUE(handler.WaitFor([&](const std::vector<agent_test::Call>& calls) {
                    return calls.size() == expected_ids.size() + 1;
                }));
                expected_ids.insert(expected_ids.end(), {4, 5});
                client_drops = false;
                break;
            default:  // a reply that nobody waits for is ignored
                fake.Send(Encode(vorn_agent::kReply, 12345, PayloadWriter().I32(0).I64(0).Text(nullptr).Take()));
                client_drops = false;
                break;
        }
        if (client_drops) {
            EXPECT_TRUE(fake.WaitClientGone());
        }
        fake.Close();
        ASSERT_TRUE(handler.WaitFor(
            [&](const std::vector<agent_test::Call>& calls) { return calls.size() == expected_ids.size(); }));
    }

    vorn_agent::AgentOptions options;
    options.state_dir = folder.Dir();
    options.pipe_name = pipe;
    vorn_agent::AgentServer agent;
    ASSERT_EQ(0u, agent.Start(options));
    expected_ids.push_back(4);
    ASSERT_TRUE(handler.WaitForCount("notification", expected_ids.size()));
    EXPECT_EQ(expected_ids, handler.NotificationIds());
    Result result;
    EXPECT_EQ(0, client.send_command(1, nullptr, &result, 15000));
    EXPECT_EQ(R"({"id":{"custid":"C"}})", result.data);
    client.stop();
    agent.Stop();

    const std::string lines = ReadFileText(log);
    for (const char* line : {"refused from the agent: bad frame magic", "exceeds the limit", "unexpected frame kind",
                             "malformed notification frame"}) {
        EXPECT_NE(std::string::npos, lines.find(line)) << line;
    }
    vornint_reset();
}

TEST(AgentPipeRobustness, ConnectedClientHonoursTheCommandTimeOutAndIgnoresALateReply) {
    const std::wstring pipe = agent_test::UniquePipe();
    vornint_reset();
    vornint_connect_to_agent(pipe.c_str());
    Handler handler;
    vorn::vorn_comm_client client(12, "vorn");
    client.register_notification_handler(&handler);
    ASSERT_EQ(0, client.start_async());
    FakeAgent fake(pipe);
    ASSERT_TRUE(fake.Accept());
    ASSERT_TRUE(fake.Send(Encode(vorn_agent::kNotification, 0, PayloadWriter().I32(4).Text("{}").Take())));
    ASSERT_TRUE(handler.WaitForCount("notification", 1));

    Result unanswered;
    auto waiting = std::async(std::launch::async, [&] { return client.send_command(1, nullptr, &unanswered, 300); });
    Frame command;
    ASSERT_TRUE(fake.Read(command));
    ASSERT_EQ(std::future_status::ready, waiting.wait_for(std::chrono::milliseconds(agent_test::kWaitMs)));
    EXPECT_EQ(WAIT_TIMEOUT, waiting.get());
    EXPECT_FALSE(unanswered.set);

    // The late reply finds nobody waiting; the next command gets its own reply.
    ASSERT_TRUE(fake.Send(Encode(vorn_agent::kReply, command.id, PayloadWriter().I32(0).I64(0).Text("late").Take())));
    Result answered;
    auto next = std::async(std::launch::async, [&] { return client.send_command(1, nullptr, &answered, 15000); });
    Frame second;
    ASSERT_TRUE(fake.Read(second));
    EXPECT_NE(command.id, second.id);
    ASSERT_TRUE(
        fake.Send(Encode(vorn_agent::kReply, second.id, PayloadWriter().I32(0).I64(17).Text("current").Take())));
    ASSERT_EQ(std::future_status::ready, next.wait_for(std::chrono::milliseconds(agent_test::kWaitMs)));
    EXPECT_EQ(0, next.get());
    EXPECT_EQ("current", answered.data);
    EXPECT_EQ(17, answered.code);
    EXPECT_TRUE(unanswered.data.empty());
    client.stop();
    vornint_reset();
}

}  // namespace
