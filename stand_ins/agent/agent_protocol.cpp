// Frame encoding and overlapped pipe transfers of the simulated agent's protocol.
#include "stand_ins/agent/agent_protocol.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "support/unique_resource.h"

namespace vorn_agent {

namespace {

std::string Format(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}

IoResult Result(IoStatus status, std::string why, DWORD error = 0) {
    IoResult result;
    result.status = status;
    result.error = error;
    result.why = std::move(why);
    return result;
}

bool IsPeerGone(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_NO_DATA ||
           error == ERROR_HANDLE_EOF;
}

DWORD Remaining(ULONGLONG deadline) {
    if (deadline == 0) {
        return INFINITE;
    }
    const ULONGLONG now = GetTickCount64();
    return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
}

// One overlapped read or write of up to size bytes. The OVERLAPPED lives in this frame, so a transfer that is
// still pending when the wait ends (time-out or cancel) is cancelled and waited for before returning.
IoResult Transfer(HANDLE pipe, HANDLE cancel, DWORD timeout_ms, bool write, void* buffer, DWORD size, DWORD& done) {
    done = 0;
    qv::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        return Result(IoStatus::kFailed, "cannot create an event", GetLastError());
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    const BOOL started = write ? WriteFile(pipe, buffer, size, nullptr, &overlapped)
                               : ReadFile(pipe, buffer, size, nullptr, &overlapped);
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        const DWORD error = GetLastError();
        return IsPeerGone(error) ? Result(IoStatus::kClosed, "peer closed the pipe")
                                 : Result(IoStatus::kFailed, write ? "write failed" : "read failed", error);
    }
    HANDLE waits[2] = {event.get(), cancel};
    const DWORD waited = WaitForMultipleObjects(cancel != nullptr ? 2 : 1, waits, FALSE, timeout_ms);
    if (waited != WAIT_OBJECT_0) {
        CancelIoEx(pipe, &overlapped);
    }
    // Waits for the cancelled transfer too; one that completed before the cancel keeps its bytes.
    if (GetOverlappedResult(pipe, &overlapped, &done, TRUE)) {
        return Result(IoStatus::kOk, "");
    }
    const DWORD error = GetLastError();
    if (error == ERROR_OPERATION_ABORTED && waited == WAIT_OBJECT_0 + 1) {
        return Result(IoStatus::kCancelled, "cancelled");
    }
    if (error == ERROR_OPERATION_ABORTED && waited == WAIT_TIMEOUT) {
        return Result(IoStatus::kTimeout, "timed out");
    }
    return IsPeerGone(error) ? Result(IoStatus::kClosed, "peer closed the pipe")
                             : Result(IoStatus::kFailed, write ? "write failed" : "read failed", error);
}

// Fills size bytes by deadline (0: none). The first byte of a frame moves the deadline to rest_timeout_ms from
// then; begun tells (and is told) whether the frame has begun.
IoResult ReadExact(HANDLE pipe, HANDLE cancel, DWORD rest_timeout_ms, ULONGLONG& deadline, bool& begun, char* target,
                   size_t size) {
    size_t got = 0;
    while (got < size) {
        DWORD done = 0;
        IoResult result =
            Transfer(pipe, cancel, Remaining(deadline), false, target + got, static_cast<DWORD>(size - got), done);
        got += done;
        if (got > 0 && !begun) {
            begun = true;
            deadline = GetTickCount64() + rest_timeout_ms;
        }
        if (result.status != IoStatus::kOk) {
            return result;
        }
    }
    return Result(IoStatus::kOk, "");
}

uint32_t LoadU32(const char* bytes) {
    uint32_t value = 0;
    for (int n = 3; n >= 0; --n) {
        value = (value << 8) | static_cast<unsigned char>(bytes[n]);
    }
    return value;
}

void StoreU32(char* bytes, uint32_t value) {
    for (int n = 0; n < 4; ++n) {
        bytes[n] = static_cast<char>((value >> (8 * n)) & 0xFF);
    }
}

}  // namespace

PayloadWriter& PayloadWriter::U32(uint32_t value) {
    char bytes[4];
    StoreU32(bytes, value);
    bytes_.append(bytes, 4);
    return *this;
}

PayloadWriter& PayloadWriter::U64(uint64_t value) {
    U32(static_cast<uint32_t>(value & 0xFFFFFFFFu));
    return U32(static_cast<uint32_t>(value >> 32));
}

PayloadWriter& PayloadWriter::Text(const char* text) {
    return text == nullptr ? Text(nullptr, 0) : Text(text, std::strlen(text));
}

PayloadWriter& PayloadWriter::Text(const char* text, size_t length) {
    bytes_.push_back(text == nullptr ? 1 : 0);
    U32(static_cast<uint32_t>(text == nullptr ? 0 : length));
    if (text != nullptr) {
        bytes_.append(text, length);
    }
    return *this;
}

bool PayloadReader::Take(void* target, size_t size) {
    if (!ok_ || payload_.size() - offset_ < size) {
        ok_ = false;
        return false;
    }
    std::memcpy(target, payload_.data() + offset_, size);
    offset_ += size;
    return true;
}

bool PayloadReader::U32(uint32_t& value) {
    char bytes[4];
    if (!Take(bytes, 4)) {
        return false;
    }
    value = LoadU32(bytes);
    return true;
}

bool PayloadReader::I32(int32_t& value) {
    uint32_t raw = 0;
    const bool ok = U32(raw);
    value = static_cast<int32_t>(raw);
    return ok;
}

bool PayloadReader::U64(uint64_t& value) {
    uint32_t low = 0;
    uint32_t high = 0;
    const bool ok = U32(low) && U32(high);
    value = (static_cast<uint64_t>(high) << 32) | low;
    return ok;
}

bool PayloadReader::I64(int64_t& value) {
    uint64_t raw = 0;
    const bool ok = U64(raw);
    value = static_cast<int64_t>(raw);
    return ok;
}

bool PayloadReader::Text(bool& is_null, std::string& text) {
    char flag = 0;
    uint32_t length = 0;
    if (!Take(&flag, 1) || !U32(length) || (flag != 0 && flag != 1) || (flag == 1 && length != 0)) {
        ok_ = false;
        return false;
    }
    if (payload_.size() - offset_ < length) {
        ok_ = false;
        return false;
    }
    is_null = flag == 1;
    text.assign(payload_, offset_, length);
    offset_ += length;
    return true;
}

IoResult ReadFrame(HANDLE pipe, HANDLE cancel, DWORD rest_timeout_ms, Frame& frame, DWORD first_timeout_ms) {
    char header[kHeaderSize];
    ULONGLONG deadline = first_timeout_ms == INFINITE ? 0 : GetTickCount64() + first_timeout_ms;
    bool begun = false;
    IoResult result = ReadExact(pipe, cancel, rest_timeout_ms, deadline, begun, header, kHeaderSize);
    if (result.status != IoStatus::kOk) {
        if (begun && result.status == IoStatus::kClosed) {
            return Result(IoStatus::kTruncated, "peer closed the pipe inside a frame header");
        }
        if (begun && result.status == IoStatus::kTimeout) {
            return Result(IoStatus::kTimeout, "a frame header did not complete in time");
        }
        return result;
    }
    const uint32_t magic = LoadU32(header);
    const uint32_t length = LoadU32(header + 12);
    if (magic != kMagic) {
        return Result(IoStatus::kBadFrame, Format("bad frame magic 0x%08X (not a frame of this protocol)", magic));
    }
    if (length > kMaxPayload) {
        return Result(IoStatus::kBadFrame,
                      Format("frame payload of %u bytes exceeds the limit of %u bytes", length, kMaxPayload));
    }
    frame.kind = LoadU32(header + 4);
    frame.id = LoadU32(header + 8);
    frame.payload.assign(length, '\0');
    result = ReadExact(pipe, cancel, rest_timeout_ms, deadline, begun, &frame.payload[0], length);
    if (result.status == IoStatus::kClosed) {
        return Result(IoStatus::kTruncated, Format("peer closed the pipe inside a frame of %u payload bytes", length));
    }
    if (result.status == IoStatus::kTimeout) {
        return Result(IoStatus::kTimeout, Format("a frame of %u payload bytes did not complete in time", length));
    }
    return result;
}

IoResult WriteBytes(HANDLE pipe, HANDLE cancel, DWORD timeout_ms, const void* bytes, size_t size) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    const char* source = static_cast<const char*>(bytes);
    size_t written = 0;
    while (written < size) {
        DWORD done = 0;
        IoResult result = Transfer(pipe, cancel, Remaining(deadline), true, const_cast<char*>(source + written),
                                   static_cast<DWORD>(size - written), done);
        written += done;
        if (result.status != IoStatus::kOk) {
            return result;
        }
    }
    return Result(IoStatus::kOk, "");
}

IoResult WriteFrame(HANDLE pipe, HANDLE cancel, DWORD timeout_ms, const Frame& frame) {
    if (frame.payload.size() > kMaxPayload) {
        return Result(IoStatus::kBadFrame,
                      Format("refusing to send a payload of %zu bytes (limit %u)", frame.payload.size(), kMaxPayload));
    }
    std::string bytes(kHeaderSize, '\0');
    StoreU32(&bytes[0], kMagic);
    StoreU32(&bytes[4], frame.kind);
    StoreU32(&bytes[8], frame.id);
    StoreU32(&bytes[12], static_cast<uint32_t>(frame.payload.size()));
    bytes += frame.payload;
    return WriteBytes(pipe, cancel, timeout_ms, bytes.data(), bytes.size());
}

}  // namespace vorn_agent
