// The simulated agent's pipe protocol, shared by the agent and the connected mode of the stand-in vornint.dll.
//
// The pipe is a byte stream of frames. Each frame is a 16-byte header of four little-endian 32-bit words (magic,
// kind, request id, payload length) followed by the payload. A payload is a sequence of fields: 32- and 64-bit
// little-endian integers and texts (one byte null flag, a 32-bit length, the bytes). Either end refuses a frame
// whose magic is wrong, whose length exceeds kMaxPayload, whose kind it does not expect, or whose payload does not
// decode to exactly the fields of its kind; it logs why and drops the connection, never the process.
//
// A conversation: the client sends kHello; the agent answers kNotification 4 and, to a client with a policy
// handler, every policy (kRunPolicy, in name order) and every removal (kRemovePolicy). The client sends kEvent and
// kCommand (or kTimedCommand, which tells how long its caller waits) with a request id; the agent answers each with
// kReply under the same id, unless the id is 0 (nobody waits). A command the agent cannot carry out in good time for
// its caller is answered ERROR_TIMEOUT and not carried out. When the agent stops it sends kNotification 5 and
// closes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace vorn_agent {

constexpr wchar_t kDefaultPipeName[] = L"\\\\.\\pipe\\vorn-agent";
constexpr uint32_t kMagic = 0x4E524F56;  // "VORN" on the wire
constexpr uint32_t kHeaderSize = 16;
// A policy or settings text may reach 1 MiB; the rest covers the fields around it.
constexpr uint32_t kMaxPayload = (1u << 20) + 4096;
constexpr uint32_t kMaxText = 1u << 20;

constexpr int kServerUp = 4;
constexpr int kServerDown = 5;

enum FrameKind : uint32_t {
    kHello = 1,          // client -> agent: i32 client number, u32 handler flags, text name
    kEvent = 2,          // client -> agent: i32 priority, u64 type, u64 subtype, u64 flags, i32 wait, text json
    kCommand = 3,        // client -> agent: i32 command, text argument
    kTimedCommand = 4,   // client -> agent: i32 command, i32 the caller's time-out in ms, text argument
    kRunPolicy = 10,     // agent -> client: text
    kAddPolicy = 11,     // agent -> client: text
    kRemovePolicy = 12,  // agent -> client: text
    kNotification = 13,  // agent -> client: i32 id, text json
    kReply = 14,         // agent -> client: i32 result, i64 code, text data (null: no data)
};

enum HelloFlags : uint32_t {
    kWantsPolicies = 1,
    kWantsNotifications = 2,
};

struct Frame {
    uint32_t kind = 0;
    uint32_t id = 0;
    std::string payload;
};

// Builds a payload field by field.
class PayloadWriter {
public:
    PayloadWriter& U32(uint32_t value);
    PayloadWriter& I32(int32_t value) { return U32(static_cast<uint32_t>(value)); }
    PayloadWriter& U64(uint64_t value);
    PayloadWriter& I64(int64_t value) { return U64(static_cast<uint64_t>(value)); }
    PayloadWriter& Text(const char* text);  // null stays null
    PayloadWriter& Text(const std::string& text) { return Text(text.c_str(), text.size()); }
    PayloadWriter& Text(const char* text, size_t length);
    std::string Take() { return std::move(bytes_); }

private:
    std::string bytes_;
};

// Reads a payload field by field; every read fails once the payload runs short, and Done demands it was used up.
class PayloadReader {
public:
    explicit PayloadReader(const std::string& payload) : payload_(payload) {}
    bool U32(uint32_t& value);
    bool I32(int32_t& value);
    bool U64(uint64_t& value);
    bool I64(int64_t& value);
    bool Text(bool& is_null, std::string& text);
    bool Done() const { return ok_ && offset_ == payload_.size(); }

private:
    bool Take(void* target, size_t size);

    const std::string& payload_;
    size_t offset_ = 0;
    bool ok_ = true;
};

enum class IoStatus {
    kOk,
    kClosed,     // the peer closed the pipe where no frame had begun
    kTruncated,  // the peer closed the pipe in the middle of a frame
    kBadFrame,   // wrong magic or a length beyond kMaxPayload
    kTimeout,
    kCancelled,  // the cancel event was signalled
    kFailed,     // any other Windows error
};

struct IoResult {
    IoStatus status = IoStatus::kOk;
    DWORD error = 0;  // the Windows error behind kFailed
    std::string why;  // for the log line: what was wrong, in a few words
};

// Reads one frame from an overlapped pipe handle. The first byte may take first_timeout_ms (INFINITE: until cancel
// is signalled); once a frame has begun, the rest must come within rest_timeout_ms, so that a peer stuck halfway
// cannot hold the reader.
IoResult ReadFrame(HANDLE pipe, HANDLE cancel, DWORD rest_timeout_ms, Frame& frame, DWORD first_timeout_ms = INFINITE);

// Writes one frame, giving up after timeout_ms or when cancel (may be null) is signalled.
IoResult WriteFrame(HANDLE pipe, HANDLE cancel, DWORD timeout_ms, const Frame& frame);

// Writes raw bytes (for tests that play a misbehaving peer).
IoResult WriteBytes(HANDLE pipe, HANDLE cancel, DWORD timeout_ms, const void* bytes, size_t size);

}  // namespace vorn_agent
