#pragma once

// Per-user, persistent integers by key. An absent key reads as 0.
// Main thread only.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace velto {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::int64_t integerForKey(std::string_view key) = 0;
    virtual void setIntegerForKey(std::int64_t value, std::string_view key) = 0;
};

// Kept in memory only (tests).
class MemorySettingsStore final : public SettingsStore {
public:
    std::int64_t integerForKey(std::string_view key) override;
    void setIntegerForKey(std::int64_t value, std::string_view key) override;
    const std::map<std::string, std::int64_t, std::less<>>& values() const { return values_; }

private:
    std::map<std::string, std::int64_t, std::less<>> values_;
};

// A plain text file of "key = value" lines that a person can read and edit.
// Lines that it cannot read count as absent keys and are kept as they are when
// the file is rewritten; every write replaces the file atomically. A missing
// file is an empty store; an unreadable file or an unwritable location is said
// once in the log and Velto runs on.
class FileSettingsStore final : public SettingsStore {
public:
    explicit FileSettingsStore(std::filesystem::path path);

    // $XDG_CONFIG_HOME/velto/settings, else ~/.config/velto/settings.
    static std::filesystem::path defaultPath();

    const std::filesystem::path& path() const { return path_; }
    // Read the file again (after a person or another program changed it).
    void reload();

    std::int64_t integerForKey(std::string_view key) override;
    void setIntegerForKey(std::int64_t value, std::string_view key) override;

private:
    struct Impl;
    std::filesystem::path path_;
    std::shared_ptr<Impl> impl_;
};

}  // namespace velto
