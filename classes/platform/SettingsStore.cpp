#include "platform/SettingsStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/Log.h"
#include "platform/WriteAll.h"

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
// Lines that cannot be read, each named in the log; beyond these, one count.
constexpr std::size_t kMaxFaultsLogged = 5;

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
    std::string key;              // the key it sets or was meant to set, if it names one
    const char* fault = nullptr;  // why it cannot be read; null when it can
    std::size_t valueAt = 0;      // where the value stands in text, when it can be read
    std::size_t valueLength = 0;
    std::int64_t value = 0;
};

Line parseLine(std::string text) {
    Line line;
    line.text = std::move(text);
    const std::string_view content = trim(line.text);
    if (content.empty() || content.front() == '#') return line;  // blank or comment
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
        // "key value": the first word is still the key meant, so it is not written elsewhere.
        const std::string_view word = content.substr(0, content.find_first_of(" \t\v\f\r"));
        if (isValidKey(word)) line.key = std::string(word);
        line.fault = "not of the form \"key = value\"";
        return line;
    }
    const std::string_view key = trim(content.substr(0, equals));
    if (!isValidKey(key)) {
        line.fault = "not of the form \"key = value\"";
        return line;
    }
    line.key = std::string(key);
    // Strict: a decimal int64, then at most blanks and a comment.
    const std::string_view rest = content.substr(equals + 1);
    const std::string_view value = trim(rest.substr(0, rest.find('#')));
    const char* end = value.data() + value.size();
    const auto [stop, error] = std::from_chars(value.data(), end, line.value);
    if (value.empty()) {
        line.fault = "no value";
    } else if (error == std::errc::result_out_of_range) {
        line.fault = "value out of range";
    } else if (error != std::errc{} || stop != end) {
        line.fault = "value not a decimal integer";
    }
    line.valueAt = static_cast<std::size_t>(value.data() - line.text.data());
    line.valueLength = value.size();
    return line;
}

// Said in the log only when it cannot garble the log line.
bool isPrintable(std::string_view text) {
    for (const char c : text) {
        if (c <= ' ' || c >= 127) return false;
    }
    return true;
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

// The file that path names after following symbolic links (it need not exist
// yet); empty for a loop of links.
std::filesystem::path followLinks(std::filesystem::path path) {
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) return path;
        std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error) return path;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return {};
}

// The one temporary file beside the settings file: a fixed name, so that one
// left by a killed Velto is found again.
std::string temporaryName(const std::filesystem::path& file) {
    return (file.parent_path() / ("." + file.filename().string() + ".velto-tmp")).string();
}

// Opens the temporary file locked, so that two Veltos on one settings file
// never write into the same temporary file; -1 (errno set) when another holds it.
int lockTemporary(const std::string& name, int flags) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd < 0) return -1;
        struct stat opened {};
        struct stat named {};
        int errnum = EBUSY;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0) {
            if (!S_ISREG(opened.st_mode)) {
                errnum = EINVAL;
            } else if (::lstat(name.c_str(), &named) == 0 && named.st_ino == opened.st_ino &&
                       named.st_dev == opened.st_dev) {
                return fd;
            } else {
                errnum = 0;  // the other writer renamed it into place before our lock: again
            }
        }
        ::close(fd);
        if (errnum != 0) {
            errno = errnum;
            return -1;
        }
    }
    errno = EBUSY;
    return -1;
}

void removeLeftoverTemporary(const std::filesystem::path& path) {
    const std::filesystem::path file = followLinks(path);
    if (file.empty()) return;
    const std::string name = temporaryName(file);
    const int fd = lockTemporary(name, O_RDONLY);
    if (fd < 0) return;  // none, or another Velto is writing it right now
    ::unlink(name.c_str());
    ::close(fd);
}

// Replaces the file at path (through symbolic links) by one holding content: a
// temporary file in the same directory, then rename, so that a reader sees
// either the old file or the new one, never a part. 0 or errno.
int replaceFile(const std::filesystem::path& path, const std::string& content) {
    const std::filesystem::path file = followLinks(path);
    if (file.empty()) return ELOOP;
    struct stat existing {};
    const bool exists = ::stat(file.c_str(), &existing) == 0;
    // Root may write any file, but a file without write permission is one its
    // owner does not want changed.
    if (exists && ((existing.st_mode & 0222) == 0 || ::access(file.c_str(), W_OK) != 0))
        return EACCES;
    std::error_code ignored;  // a failure shows when the temporary file is made
    std::filesystem::create_directories(file.parent_path().empty() ? "." : file.parent_path(),
                                        ignored);

    const std::string temporary = temporaryName(file);
    const int fd = lockTemporary(temporary, O_WRONLY | O_CREAT);
    if (fd < 0) return errno;
    int errnum = 0;
    if (::ftruncate(fd, 0) != 0) errnum = errno;
    // Keep the mode and owner that the file has; a new one stays private.
    if (errnum == 0 && ::fchmod(fd, exists ? existing.st_mode & 07777 : 0600) != 0) errnum = errno;
    if (errnum == 0 && exists && ::fchown(fd, existing.st_uid, existing.st_gid) != 0 &&
        existing.st_uid != ::geteuid()) {
        errnum = errno;  // someone else's file that we could only make ours
    }
    if (errnum == 0 && !writeAll(fd, content)) errnum = errno;
    if (errnum == 0 && ::fsync(fd) != 0 && errno != EINVAL) errnum = errno;
    if (errnum == 0 && ::rename(temporary.c_str(), file.c_str()) != 0) errnum = errno;
    if (errnum != 0) ::unlink(temporary.c_str());
    ::close(fd);  // after the rename: the lock covers the whole write
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
    std::filesystem::path path;
    std::string byteOrderMark;  // written back as it was found
    std::vector<Line> lines;    // the file as last read or written
    std::map<std::string, std::int64_t, std::less<>> values;
    // A value the file could not take, with what the file said for its key
    // then: it holds until the file says something else.
    struct Unsaved {
        std::int64_t value;
        std::optional<std::int64_t> inFile;
    };
    std::map<std::string, Unsaved, std::less<>> unsaved;
    // The file was not read: writing it would lose what it holds.
    bool holdWrites = false;
    bool reportedUnwritable = false;

    // The last line naming the key counts; one that cannot be read hides the key.
    std::optional<std::int64_t> valueInFile(std::string_view key) const {
        for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
            if (line->key == key) return line->fault ? std::nullopt : std::optional(line->value);
        }
        return std::nullopt;
    }

    bool load(bool atStart) {
        std::string content;
        int errnum = 0;
        const ReadResult result = readFile(path, content, errnum);
        const bool hasMark = content.starts_with("\xEF\xBB\xBF");
        if (hasMark) content.erase(0, 3);
        if (atStart && result == ReadResult::unreadable) {
            holdWrites = true;
            Log::message("Cannot read the settings file " + path.string() + ": " +
                         errorText(errnum) + "; using defaults, changes are not saved");
            return false;
        }
        // A reload may catch the file deleted, or emptied by an editor about to
        // write it again: only what the file says changes anything.
        if (!atStart && (result != ReadResult::ok || content.empty())) {
            holdWrites = true;
            Log::message((result == ReadResult::ok
                              ? "The settings file " + path.string() + " is empty"
                              : "Cannot read the settings file " + path.string() + ": " +
                                    errorText(errnum)) +
                         "; the settings in use are kept");
            return false;
        }
        holdWrites = false;
        byteOrderMark = hasMark ? "\xEF\xBB\xBF" : "";
        lines.clear();
        values.clear();
        std::size_t faults = 0;
        for (std::size_t start = 0; start < content.size();) {
            std::size_t end = content.find('\n', start);
            if (end == std::string::npos) end = content.size();
            lines.push_back(parseLine(content.substr(start, end - start)));
            start = end + 1;
            const Line& line = lines.back();
            if (line.fault == nullptr) {
                if (!line.key.empty()) values.insert_or_assign(line.key, line.value);
                continue;
            }
            values.erase(line.key);
            if (++faults > kMaxFaultsLogged) continue;
            const bool named = !line.key.empty() && isPrintable(line.key);
            Log::message("Settings file " + path.string() + ", line " +
                         std::to_string(lines.size()) + ": " + line.fault +
                         "; the line is kept as it is" +
                         (named ? " and " + line.key + " is not saved while it stands" : ""));
        }
        if (faults > kMaxFaultsLogged) {
            Log::message("Settings file " + path.string() + ": " +
                         std::to_string(faults - kMaxFaultsLogged) +
                         " more lines that cannot be read, kept as they are");
        }
        std::erase_if(unsaved, [this](const auto& entry) {
            return valueInFile(entry.first) != entry.second.inFile;
        });
        for (const auto& [key, kept] : unsaved) values.insert_or_assign(key, kept.value);
        return true;
    }

    // True when the file holds value for key afterwards.
    bool write(std::string_view key, std::int64_t value) {
        if (holdWrites || !isValidKey(key)) return false;
        std::vector<Line> updated = lines;
        bool found = false;
        const std::string text = std::to_string(value);
        for (Line& line : updated) {
            if (line.key != key) continue;
            if (line.fault != nullptr)
                return false;  // the person's line to mend, not ours to replace
            line.text.replace(line.valueAt, line.valueLength, text);
            line.valueLength = text.size();
            line.value = value;
            found = true;
        }
        if (!found) updated.push_back(parseLine(std::string(key) + " = " + text));
        std::string content = byteOrderMark;
        for (const Line& line : updated) content += line.text + '\n';
        std::string old = byteOrderMark;
        for (const Line& line : lines) old += line.text + '\n';
        if (content == old) return true;
        const int errnum = replaceFile(path, content);
        if (errnum != 0) {
            if (!reportedUnwritable) {
                reportedUnwritable = true;
                Log::message("Cannot save settings to " + path.string() + ": " + errorText(errnum) +
                             "; changes are kept in memory only");
            }
            return false;
        }
        reportedUnwritable = false;
        lines = std::move(updated);
        return true;
    }
};

FileSettingsStore::FileSettingsStore(std::filesystem::path path)
    : path_(std::move(path)), impl_(std::make_unique<Impl>()) {
    impl_->path = path_;
    removeLeftoverTemporary(path_);
    impl_->load(true);
}

FileSettingsStore::~FileSettingsStore() = default;

std::filesystem::path FileSettingsStore::defaultPath() {
    // XDG: a relative XDG_CONFIG_HOME is invalid and ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME");
        config != nullptr && config[0] == '/') {
        return std::filesystem::path(config) / "velto" / "settings";
    }
#ifdef __APPLE__
    return homeDirectory() / "Library" / "Application Support" / "velto" / "settings";
#else
    return homeDirectory() / ".config" / "velto" / "settings";
#endif
}

void FileSettingsStore::reload() { impl_->load(false); }

std::int64_t FileSettingsStore::integerForKey(std::string_view key) {
    const auto found = impl_->values.find(key);
    return found == impl_->values.end() ? 0 : found->second;
}

bool FileSettingsStore::hasValueForKey(std::string_view key) { return impl_->values.contains(key); }

void FileSettingsStore::setIntegerForKey(std::int64_t value, std::string_view key) {
    impl_->values.insert_or_assign(std::string(key), value);
    if (impl_->write(key, value)) {
        if (const auto found = impl_->unsaved.find(key); found != impl_->unsaved.end())
            impl_->unsaved.erase(found);
    } else {
        impl_->unsaved.insert_or_assign(std::string(key),
                                        Impl::Unsaved{value, impl_->valueInFile(key)});
    }
}

}  // namespace velto
