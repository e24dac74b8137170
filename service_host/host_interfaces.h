// The host's side of the in-process agent loader: host pointer, component manager, the logger-configuration
// plug-in with its change sink, and the LoggerSettings record that plug-in fills.
//
// These are the host's vtables, not ours: only some slots are ever called, but every slot the host has before
// a called one is declared as a pure virtual placeholder so that the called ones land at the host's positions.
// None has a virtual destructor (the host never deletes through them, and a destructor would take slots);
// the protected destructors keep anyone from trying.
#pragma once

#include <guiddef.h>

#include <cstddef>
#include <cstdint>

namespace Product {

struct IComponentManager;

// What the host passes to IServPlugin::Init.
struct IHost {
    virtual void reserved0() = 0;
    // May be null: a host without a component manager offers no plug-ins.
    virtual IComponentManager* GetComponentManager() = 0;

protected:
    ~IHost() = default;
};

// Hands out the host's plug-ins by name. A plug-in obtained by get is held until release is called with the
// same name.
struct IComponentManager {
    // 0 on success, with the plug-in stored through `plugin`.
    virtual unsigned long get(const wchar_t* plugin_name, const GUID* iid, void** plugin) = 0;
    virtual unsigned long release(const wchar_t* plugin_name) = 0;

protected:
    ~IComponentManager() = default;
};

struct LoggerSettings;

// The host's logger configuration, "Product.Configuration.Logger".
struct ILoggerConfiguration {
    // Told by the host when its logger settings change.
    struct IEvents {
        virtual unsigned long OnSettingsChanged() = 0;

    protected:
        ~IEvents() = default;
    };

    virtual void reserved0() = 0;
    virtual void reserved1() = 0;
    virtual void reserved2() = 0;
    // Writes the host's current settings into a record the caller has set to its defaults.
    virtual unsigned long fill(LoggerSettings* settings) = 0;
    virtual void reserved4() = 0;
    // `reserved` is 0 from this plug-in.
    virtual unsigned long subscribe(IEvents* sink, unsigned long reserved) = 0;
    virtual unsigned long unsubscribe(IEvents* sink, unsigned long reserved) = 0;

protected:
    ~ILoggerConfiguration() = default;
};

// The host's logger settings, shared with the host byte for byte: the host writes the whole record, so every
// offset is pinned below and the record is never larger than the 64 bytes the host may fill. Fields named
// reservedNN (by their offset) belong to the host and are not interpreted here.
struct LoggerSettings {
    std::uint8_t enabled;  // 0 = logging off
    std::uint8_t gap1[7];
    std::int32_t max_size;
    std::uint32_t reserved12;
    // TODO: becomes the wide qv::StringT (qv::StringT<wchar_t, qv::StringMemMgr, qv::ChTraitsCRT<wchar_t>, 1>,
    // from support/strings/qv_string.h) once that type is in the tree. The host assigns the directory through
    // it; it is one pointer wide, so this member holds its place meanwhile.
    void* log_dir;
    std::uint32_t reserved24;
    std::uint32_t reserved28;
    std::uint32_t reserved32;
    std::int32_t level_mask;  // bits 0x01..0x20, see the level table of the loader
    std::uint32_t reserved40;
    std::uint8_t reserved44[4];
    std::uint8_t reserved48[2];
    std::uint8_t gap50[14];
};

static_assert(offsetof(LoggerSettings, enabled) == 0);
static_assert(offsetof(LoggerSettings, max_size) == 8);
static_assert(offsetof(LoggerSettings, reserved12) == 12);
static_assert(offsetof(LoggerSettings, log_dir) == 16);
static_assert(sizeof(LoggerSettings::log_dir) == 8);
static_assert(offsetof(LoggerSettings, reserved24) == 24);
static_assert(offsetof(LoggerSettings, reserved28) == 28);
static_assert(offsetof(LoggerSettings, reserved32) == 32);
static_assert(offsetof(LoggerSettings, level_mask) == 36);
static_assert(offsetof(LoggerSettings, reserved40) == 40);
static_assert(offsetof(LoggerSettings, reserved44) == 44);
static_assert(offsetof(LoggerSettings, reserved48) == 48);
static_assert(sizeof(LoggerSettings) == 64);

}  // namespace Product
