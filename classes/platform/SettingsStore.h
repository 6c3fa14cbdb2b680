#pragma once

// Per-user, persistent integers by key. An absent key reads as 0; hasValueForKey
// tells it from a stored 0. Main thread only.

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
    virtual bool hasValueForKey(std::string_view key) = 0;
    virtual void setIntegerForKey(std::int64_t value, std::string_view key) = 0;
};

// Kept in memory only (tests).
class MemorySettingsStore final : public SettingsStore {
public:
    std::int64_t integerForKey(std::string_view key) override;
    bool hasValueForKey(std::string_view key) override { return values_.contains(key); }
    void setIntegerForKey(std::int64_t value, std::string_view key) override;
    const std::map<std::string, std::int64_t, std::less<>>& values() const { return values_; }

private:
    std::map<std::string, std::int64_t, std::less<>> values_;
};

// A plain text file of "key = value" lines that a person can read and edit,
// often while Velto runs. A value may be followed by a "# comment"; a leading
// byte-order mark is skipped. A line that cannot be read is logged, counts as an
// absent key, and is never rewritten: the key it was meant to hold is not
// written anywhere while it stands, so the person's typo stays there to mend.
// Writes change only the values in their lines, go through a symbolic link to
// the file it names, keep the file's mode and owner, and replace the file
// atomically through one temporary file beside it (a leftover one is removed
// when the store is made). A missing file is an empty store. A file that cannot
// be read, or is not writable, is not written: values that the file could not
// take stay in memory, across reloads, until the file says something else for
// their key. Each such trouble is said once in the log and Velto runs on.
class FileSettingsStore final : public SettingsStore {
public:
    explicit FileSettingsStore(std::filesystem::path path);
    ~FileSettingsStore() override;
    // One store per file: a copy would write the same file from two states.
    FileSettingsStore(const FileSettingsStore&) = delete;
    FileSettingsStore& operator=(const FileSettingsStore&) = delete;

    // $XDG_CONFIG_HOME/velto/settings, else ~/.config/velto/settings (on
    // macOS ~/Library/Application Support/velto/settings).
    static std::filesystem::path defaultPath();

    const std::filesystem::path& path() const { return path_; }
    // Read the file again (after a person or another program changed it). A
    // file that is missing, cannot be read, is not a regular file or is empty
    // changes nothing (and is said in the log); keys absent from a file read
    // are absent.
    void reload();

    std::int64_t integerForKey(std::string_view key) override;
    bool hasValueForKey(std::string_view key) override;
    void setIntegerForKey(std::int64_t value, std::string_view key) override;

private:
    struct Impl;
    std::filesystem::path path_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velto
