#include "platform/SettingsStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "platform/Log.h"

namespace velto {

std::int64_t MemorySettingsStore::integerForKey(std::string_view key) {
    const auto found = values_.find(key);
    return found == values_.end() ? 0 : found->second;
}

void MemorySettingsStore::setIntegerForKey(std::int64_t value, std::string_view key) {
    values_.insert_or_assign(std::string(key), value);
}

namespace {

// A settings file larger than this is not one that Velto wrote or that a person
// edited; it is refused (and left alone) rather than read into memory.
constexpr std::size_t kMaxFileSize = 1 << 20;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// A key is one word that can stand left of '=' and read back as itself.
bool isValidKey(std::string_view key) {
    if (key.empty() || key.front() == '#') return false;
    for (const char c : key) {
        if (isBlank(c) || c == '=' || c == '\n' || c == '\0') return false;
    }
    return true;
}

std::string errorText(int errnum) { return std::generic_category().message(errnum); }

// One line of the file, kept as it was read so that a rewrite loses nothing.
struct Line {
    std::string text;
    std::string key;     // the key it sets, if it names one (even with a bad value)
    bool garbled = false;
    std::int64_t value = 0;  // when it names a key and is not garbled
};

Line parseLine(std::string text) {
    Line line;
    const std::string_view content = trim(text);
    if (content.empty() || content.front() == '#') {
        line.text = std::move(text);
        return line;  // blank or comment
    }
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
        line.garbled = true;
        line.text = std::move(text);
        return line;
    }
    const std::string_view key = trim(content.substr(0, equals));
    const std::string_view value = trim(content.substr(equals + 1));
    if (!isValidKey(key)) {
        line.garbled = true;
        line.text = std::move(text);
        return line;
    }
    line.key = std::string(key);
    // Strict: the whole value must be a decimal int64, nothing before or after.
    const char* end = value.data() + value.size();
    const auto [stop, error] = std::from_chars(value.data(), end, line.value);
    line.garbled = value.empty() || error != std::errc{} || stop != end;
    line.text = std::move(text);
    return line;
}

enum class ReadResult { ok, missing, unreadable };

ReadResult readFile(const std::filesystem::path& path, std::string& content, int& errnum) {
    // O_NONBLOCK: opening a FIFO put there by mistake must not hang start-up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        errnum = errno;
        // Nothing there (or no directory there): an empty store, nothing to keep.
        return errnum == ENOENT || errnum == ENOTDIR ? ReadResult::missing : ReadResult::unreadable;
    }
    struct stat info {};
    ReadResult result = ReadResult::ok;
    if (::fstat(fd, &info) != 0) {
        errnum = errno;
        result = ReadResult::unreadable;
    } else if (S_ISDIR(info.st_mode)) {
        errnum = EISDIR;
        result = ReadResult::unreadable;
    } else if (!S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) > kMaxFileSize) {
        errnum = EINVAL;
        result = ReadResult::unreadable;
    }
    while (result == ReadResult::ok) {
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            errnum = errno;
            result = ReadResult::unreadable;
            break;
        }
        content.append(buffer, static_cast<std::size_t>(got));
        if (content.size() > kMaxFileSize) {
            errnum = EFBIG;
            result = ReadResult::unreadable;
        }
    }
    ::close(fd);
    return result;
}

bool writeAll(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

// Replaces the file at path by one holding content: a temporary file in the
// same directory, then rename, so that a reader sees either the old file or
// the new one, never a part. 0 or errno.
int replaceFile(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::path directory = path.parent_path();
    if (directory.empty()) directory = ".";
    std::error_code ignored;  // a failure shows in mkstemp below
    std::filesystem::create_directories(directory, ignored);

    std::string temporary = (directory / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return errno;
    // Keep the permissions that a person gave the file; a new one stays private.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) ::fchmod(fd, existing.st_mode & 07777);
    int errnum = 0;
    if (!writeAll(fd, content)) errnum = errno;
    if (errnum == 0 && ::fsync(fd) != 0 && errno != EINVAL) errnum = errno;
    if (::close(fd) != 0 && errnum == 0) errnum = errno;
    if (errnum == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) errnum = errno;
    if (errnum != 0) ::unlink(temporary.c_str());
    return errnum;
}

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};  // settings then go below the working directory
}

}  // namespace

struct FileSettingsStore::Impl {
    std::vector<Line> lines;
    std::map<std::string, std::int64_t, std::less<>> values;
    // The file exists but could not be read: writing it would lose what it
    // holds, so changes stay in memory until a reload reads it.
    bool unreadable = false;
    bool reportedUnwritable = false;

    void load(const std::filesystem::path& path) {
        lines.clear();
        values.clear();
        unreadable = false;
        std::string content;
        int errnum = 0;
        switch (readFile(path, content, errnum)) {
            case ReadResult::missing:
                return;
            case ReadResult::unreadable:
                unreadable = true;
                Log::message("Cannot read the settings file " + path.string() + ": " +
                             errorText(errnum) + "; using defaults, changes are not saved");
                return;
            case ReadResult::ok:
                break;
        }
        std::size_t garbled = 0;
        std::size_t firstGarbled = 0;
        std::size_t start = 0;
        while (start < content.size()) {
            std::size_t end = content.find('\n', start);
            if (end == std::string::npos) end = content.size();
            Line line = parseLine(content.substr(start, end - start));
            start = end + 1;
            if (line.garbled) {
                if (garbled++ == 0) firstGarbled = lines.size() + 1;
            } else if (!line.key.empty()) {
                values.insert_or_assign(line.key, line.value);  // the last one counts
            }
            lines.push_back(std::move(line));
        }
        if (garbled > 0) {
            Log::message("Settings file " + path.string() + ": ignoring " + std::to_string(garbled) +
                         (garbled == 1 ? " line" : " lines") + " not of the form \"key = value\" (line " +
                         std::to_string(firstGarbled) + (garbled == 1 ? "" : " and more") +
                         "); the file keeps them");
        }
    }

    void save(const std::filesystem::path& path) {
        if (unreadable) return;
        std::string content;
        for (const Line& line : lines) {
            content += line.text;
            content += '\n';
        }
        const int errnum = replaceFile(path, content);
        if (errnum == 0) {
            reportedUnwritable = false;
        } else if (!reportedUnwritable) {
            reportedUnwritable = true;
            Log::message("Cannot save settings to " + path.string() + ": " + errorText(errnum) +
                         "; changes are kept in memory only");
        }
    }
};

FileSettingsStore::FileSettingsStore(std::filesystem::path path)
    : path_(std::move(path)), impl_(std::make_shared<Impl>()) {
    impl_->load(path_);
}

std::filesystem::path FileSettingsStore::defaultPath() {
    // XDG: a relative XDG_CONFIG_HOME is invalid and ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
        return std::filesystem::path(config) / "velto" / "settings";
    }
    return homeDirectory() / ".config" / "velto" / "settings";
}

void FileSettingsStore::reload() { impl_->load(path_); }

std::int64_t FileSettingsStore::integerForKey(std::string_view key) {
    const auto found = impl_->values.find(key);
    return found == impl_->values.end() ? 0 : found->second;
}

void FileSettingsStore::setIntegerForKey(std::int64_t value, std::string_view key) {
    impl_->values.insert_or_assign(std::string(key), value);
    if (!isValidKey(key)) return;  // no line could hold it; it lives in memory
    std::string text = std::string(key) + " = " + std::to_string(value);
    bool found = false;
    for (Line& line : impl_->lines) {
        if (line.key != key) continue;
        line.text = text;
        line.garbled = false;
        line.value = value;
        found = true;
    }
    if (!found) impl_->lines.push_back(Line{text, std::string(key), false, value});
    impl_->save(path_);
}

}  // namespace velto
