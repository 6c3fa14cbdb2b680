#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/Log.h"
#include "platform/SettingsStore.h"

namespace velto {
namespace {

namespace fs = std::filesystem;
constexpr std::int64_t kAbsent = -1;  // no port in these tests is negative

// How the settings file lies when Velto starts or reloads.
enum class Lies { regular, missing, directory, unreadable, symlink, readOnly, leftover };

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/velto-settings-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        file = dir / "velto" / "settings";
    }
    void TearDown() override { fs::remove_all(dir); }
    void lay(Lies lies, const std::string& content) {
        fs::remove_all(file);
        fs::create_directories(file.parent_path());
        if (lies == Lies::missing) return;
        if (lies == Lies::directory) return (void)fs::create_directories(file);
        const fs::path target = lies == Lies::symlink ? dir / "elsewhere" : file;
        std::ofstream(target, std::ios::binary) << content;
        if (lies == Lies::symlink) fs::create_symlink(target, file);
        if (lies == Lies::readOnly) fs::permissions(file, fs::perms::owner_read);
        if (lies == Lies::unreadable) fs::permissions(file, fs::perms::none);
        if (lies == Lies::leftover)  // a killed write
            std::ofstream(file.parent_path() / ".settings.velto-tmp") << "port = 1\n";
    }
    // What a person finds there.
    std::string state() const {
        if (!fs::exists(file)) return "(missing)";
        if (fs::is_directory(file)) return "(directory)";
        fs::permissions(file, fs::perms::owner_read, fs::perm_options::add);
        std::stringstream content;
        content << std::ifstream(file, std::ios::binary).rdbuf();
        return content.str();
    }
    static std::int64_t port(FileSettingsStore& store) {
        return store.hasValueForKey("port") ? store.integerForKey("port") : kAbsent;
    }

    Log::Capture log;
    fs::path dir;
    fs::path file;
};

TEST_F(SettingsFileTest, ValueIsReadStrictlyOrTheKeyIsAbsentWithOneDiagnostic) {
    // A line and the value read from it; none: the key reads as absent.
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"port=5001", 5001},     {"  port \t=\t -7  ", -7},
        {"port = 5001\r", 5001}, {"port = -9223372036854775808", INT64_MIN},
        {"port = ", {}},         {"port = 9223372036854775807", INT64_MAX},
        {"port = 50x", {}},      {"port = 50 1", {}},
        {"port = 0x10", {}},     {"port = +5", {}},
        {"port 5", {}},          {"port = 9223372036854775808", {}},
        {"por t = 5", {}},       {"= 5", {}},
        {"port=5001#", 5001},    {"port = 5001  # my grid", 5001},
        {"port = # 5001", {}}};
    for (const auto& [line, value] : cases) {
        SCOPED_TRACE(line);
        const std::size_t logged = log.lines().size();
        lay(Lies::regular, std::string(line) + "\n");
        FileSettingsStore store(file);
        EXPECT_EQ(store.integerForKey("port"), value.value_or(0));
        EXPECT_EQ(log.lines().size(), logged + (value ? 0 : 1));
        EXPECT_TRUE(value || log.contains(file.string()));
    }
}

// A person's file survives our rewrite: comments, blank lines, unknown keys and
// garbled lines stay where they were; only the keys written change, and not one
// whose line is garbled: the person mends that line.
TEST_F(SettingsFileTest, RewriteKeepsEveryOtherLineInOrder) {
    lay(Lies::regular,
        "# Velto's ports\nstagevueSendPort = 6000\nthis is not a setting\n\n"
        "monomeSendPort = oops\nport = 1\nport = 2\nfavourite=7");
    std::ifstream before(file);  // a reader of the old file sees it whole: replaced, not rewritten
    FileSettingsStore store(file);
    ASSERT_EQ(log.lines().size(), 2u) << "one line for each garbled line";
    EXPECT_TRUE(log.contains(file.string() + ", line 3: not of the form \"key = value\"; the line "
                                             "is kept as it is and this is not saved"));
    EXPECT_TRUE(
        log.contains(", line 5: value not a decimal integer; the line is kept as it is "
                     "and monomeSendPort is not saved while it stands"));
    EXPECT_EQ(store.integerForKey("stagevueSendPort"), 6000);
    EXPECT_EQ(store.integerForKey("port"), 2) << "the last of repeated keys counts";
    EXPECT_EQ(store.integerForKey("favourite"), 7) << "a last line without newline is read";
    store.setIntegerForKey(8080, "monomeSendPort");
    store.setIntegerForKey(3, "port");
    store.setIntegerForKey(8000, "monomeListenPort");
    EXPECT_EQ(state(),
              "# Velto's ports\nstagevueSendPort = 6000\nthis is not a setting\n\n"
              "monomeSendPort = oops\nport = 3\nport = 3\nfavourite=7\nmonomeListenPort = 8000\n");
    const std::string seenByTheReader(std::istreambuf_iterator<char>(before), {});
    EXPECT_NE(seenByTheReader.find("port = 1\nport = 2\n"), std::string::npos);
    lay(Lies::regular, "port = 5\n");
    store.reload();
    EXPECT_EQ(store.integerForKey("port"), 5);
    EXPECT_EQ(store.integerForKey("stagevueSendPort"), 0) << "a key gone from the file is gone";
}

TEST_F(SettingsFileTest, UnwritableLocationIsSaid) {
    std::ofstream(dir / "blocker") << "a file, not a directory\n";
    FileSettingsStore store(dir / "blocker" / "settings");
    store.setIntegerForKey(5001, "port");
    EXPECT_TRUE(log.contains("Cannot save settings to " + (dir / "blocker/settings").string()));
}

// Nothing the person wrote is lost, at start or on reload, and a reload of a
// file that cannot be read changes nothing.
TEST_F(SettingsFileTest, StartAndReloadKeepWhatThePersonWrote) {
    // How the file lies, what the person wrote, "port" as read at start, the file
    // once start-up wrote "port" and "other", "port" once a store that read
    // 41001 reloads, the file once the reload wrote "other", lines logged at
    // start and on reload.
    const std::tuple<Lies, const char*, std::int64_t, const char*, std::int64_t, const char*,
                     std::size_t, std::size_t>
        cases[] = {
            {Lies::missing, "", kAbsent, "port = 8000\nother = 5000\n", 41001, "(missing)", 0, 1},
            {Lies::regular, "", kAbsent, "port = 8000\nother = 5000\n", 41001, "", 0, 1},
            {Lies::directory, "", kAbsent, "(directory)", 41001, "(directory)", 1, 1},
            {Lies::unreadable, "port = 41002\n", kAbsent, "port = 41002\n", 41001, "port = 41002\n",
             1, 1},
            {Lies::symlink, "port = 41002\n", 41002, "port = 41002\nother = 5000\n", 41002,
             "port = 41002\nother = 5000\n", 0, 0},
            {Lies::readOnly, "port = 41002\n", 41002, "port = 41002\n", 41002, "port = 41002\n", 1,
             1},
            {Lies::regular, "port = 41o2\n", kAbsent, "port = 41o2\nother = 5000\n", kAbsent,
             "port = 41o2\nother = 5000\n", 1, 1},
            {Lies::regular, " port=0  # my grid\n", 0, " port=8000  # my grid\nother = 5000\n", 0,
             " port=0  # my grid\nother = 5000\n", 0, 0},
            {Lies::regular, "\xEF\xBB\xBFport = 41002\n", 41002,
             "\xEF\xBB\xBFport = 41002\nother = 5000\n", 41002,
             "\xEF\xBB\xBFport = 41002\nother = 5000\n", 0, 0},
            {Lies::leftover, "port = 41002\n", 41002, "port = 41002\nother = 5000\n", 41002,
             "port = 41002\nother = 5000\n", 0, 0}};
    for (const auto& [lies, content, atStart, afterStart, onReload, afterReload, startLines,
                      reloadLines] : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(lies)) + " " + content);
        if (lies == Lies::unreadable && ::geteuid() == 0) continue;  // root reads mode 000
        const std::size_t logged = log.lines().size();
        lay(lies, content);
        const auto mode = fs::status(file).permissions();
        {
            FileSettingsStore store(file);
            EXPECT_EQ(port(store), atStart);
            store.setIntegerForKey(atStart > 0 ? atStart : 8000, "port");  // as start-up does
            store.setIntegerForKey(5000, "other");
            EXPECT_EQ(store.integerForKey("other"), 5000) << "in memory at least";
        }
        if (lies != Lies::missing) {
            EXPECT_EQ(fs::status(file).permissions(), mode);
        }
        EXPECT_EQ(fs::is_symlink(file), lies == Lies::symlink);
        for (const auto& entry : fs::directory_iterator(file.parent_path()))
            EXPECT_EQ(entry.path(), file) << "a temporary file was left behind";
        EXPECT_EQ(state(), afterStart);
        EXPECT_EQ(log.lines().size(), logged + startLines);

        lay(Lies::regular, "port = 41001\n");
        FileSettingsStore store(file);
        lay(lies, content);
        store.reload();
        EXPECT_EQ(port(store), onReload);
        store.setIntegerForKey(5000, "other");
        EXPECT_EQ(state(), afterReload);
        EXPECT_EQ(log.lines().size(), logged + startLines + reloadLines);
    }
}

// A port that the file could not take (given on the command line) holds across
// reloads until the file names another for its key.
TEST_F(SettingsFileTest, ValueKeptInMemoryHoldsAcrossReloadsUntilTheFileNamesAnother) {
    const std::pair<Lies, const char*> cases[] = {{Lies::readOnly, "port = 41001\n"},
                                                  {Lies::regular, "port = 41o1\n"},
                                                  {Lies::directory, ""}};
    for (const auto& [lies, content] : cases) {
        SCOPED_TRACE(content);
        lay(lies, content);
        const std::string before = state();
        FileSettingsStore store(file);
        store.setIntegerForKey(41009, "port");
        store.reload();
        EXPECT_EQ(store.integerForKey("port"), 41009);
        EXPECT_EQ(state(), before);
        lay(Lies::regular, "port = 41002\n");
        store.reload();
        EXPECT_EQ(store.integerForKey("port"), 41002);
    }
}

// An absolute XDG_CONFIG_HOME wins; a relative one is invalid, and HOME's usual place is used.
TEST(SettingsDefaultPath, FollowsXdgConfigHomeElseHome) {
    std::optional<std::string> saved[2];
    const char* names[2] = {"XDG_CONFIG_HOME", "HOME"};
    for (int i = 0; i < 2; ++i)
        if (const char* value = std::getenv(names[i])) saved[i] = value;
    setenv("HOME", "/home/ada", 1);
    const std::pair<const char*, const char*> cases[] = {
        {"/etc/xdg-ada", "/etc/xdg-ada/velto/settings"},
#ifdef __APPLE__
        {"xdg-ada", "/home/ada/Library/Application Support/velto/settings"}};
#else
        {"xdg-ada", "/home/ada/.config/velto/settings"}};
#endif
    for (const auto& [config, expected] : cases) {
        setenv("XDG_CONFIG_HOME", config, 1);
        EXPECT_EQ(FileSettingsStore::defaultPath(), fs::path(expected)) << config;
    }
    for (int i = 0; i < 2; ++i)
        saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
}

}  // namespace
}  // namespace velto
