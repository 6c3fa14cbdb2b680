#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>

#include "platform/Log.h"
#include "platform/SettingsStore.h"

namespace velto {
namespace {

namespace fs = std::filesystem;
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

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
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    void writeFile(const std::string& content) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
    }
    std::string readFile() const {
        std::stringstream content;
        content << std::ifstream(file, std::ios::binary).rdbuf();
        return content.str();
    }

    void lay(Lies lies, const std::string& content) {
        fs::remove_all(file);
        fs::create_directories(file.parent_path());
        if (lies == Lies::missing) return;
        if (lies == Lies::directory) return (void)fs::create_directories(file);
        const fs::path target = lies == Lies::symlink ? dir / "elsewhere" : file;
        std::ofstream(target, std::ios::binary) << content;
        if (lies == Lies::symlink) fs::create_symlink(target, file);
        if (lies == Lies::readOnly)
            fs::permissions(file,
                            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        if (lies == Lies::unreadable) fs::permissions(file, fs::perms::none);
        if (lies == Lies::leftover)
            std::ofstream(file.parent_path() / ".settings.velto-tmp")
                << "port = 1\n";  // a killed write
    }
    // What a person finds there.
    std::string state() const {
        if (!fs::exists(file)) return "(missing)";
        if (fs::is_directory(file)) return "(directory)";
        fs::permissions(file, fs::perms::owner_read, fs::perm_options::add);
        return readFile();
    }

    Log::Capture log;
    fs::path dir;
    fs::path file;
};

TEST_F(SettingsFileTest, MissingFileIsAnEmptyStoreUntilAWriteMakesItAndItsDirectory) {
    {
        FileSettingsStore store(file);
        EXPECT_EQ(store.integerForKey("stagevueSendPort"), 0);
        EXPECT_FALSE(fs::exists(file)) << "reading creates nothing";
        store.setIntegerForKey(5000, "stagevueSendPort");
        store.setIntegerForKey(kMin, "low");
        store.setIntegerForKey(kMax, "high");
    }
    EXPECT_EQ(readFile(),
              "stagevueSendPort = 5000\nlow = -9223372036854775808\nhigh = 9223372036854775807\n");
    FileSettingsStore again(file);
    EXPECT_EQ(again.integerForKey("stagevueSendPort"), 5000);
    EXPECT_EQ(again.integerForKey("low"), kMin);
    EXPECT_EQ(again.integerForKey("high"), kMax);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(SettingsFileTest, ValueIsReadStrictlyOrTheKeyIsAbsentWithOneDiagnostic) {
    const struct {
        const char* line;
        std::optional<std::int64_t> value;  // none: the key reads as absent
    } cases[] = {
        {"port=5001", 5001},
        {"  port \t=\t -7  ", -7},
        {"port = 5001\r", 5001},
        {"port = ", {}},
        {"port = 50x", {}},
        {"port = 50 1", {}},
        {"port = 0x10", {}},
        {"port = +5", {}},
        {"port = 9223372036854775808", {}},
        {"port 5", {}},
        {"por t = 5", {}},
        {"= 5", {}},
        {"port = 5001  # my grid", 5001},
        {"port=5001#", 5001},
        {"port = # 5001", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::size_t logged = log.lines().size();
        writeFile(std::string(c.line) + "\n");
        FileSettingsStore store(file);
        EXPECT_EQ(store.integerForKey("port"), c.value.value_or(0));
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), logged + (c.value ? 0 : 1));
        if (!c.value) {
            EXPECT_NE(lines.back().find(file.string()), std::string::npos);
        }
    }
}

// A person's file survives our rewrite: comments, blank lines, unknown keys and
// garbled lines stay where they were; only the keys written change, and not one
// whose line is garbled: the person mends that line.
TEST_F(SettingsFileTest, RewriteKeepsEveryOtherLineInOrder) {
    writeFile(
        "# Velto's ports\nstagevueSendPort = 6000\n"
        "this is not a setting\n\nmonomeSendPort = oops\n"
        "port = 1\nport = 2\nfavourite=7");
    FileSettingsStore store(file);
    ASSERT_EQ(log.lines().size(), 2u) << "one line for each garbled line";
    EXPECT_NE(log.lines()[0].find(file.string() + ", line 3: not of the form \"key = value\"; the "
                                                  "line is kept as it is and this is not saved"),
              std::string::npos);
    EXPECT_NE(log.lines()[1].find(", line 5: value not a decimal integer; the line is kept as it "
                                  "is and monomeSendPort is not saved while it stands"),
              std::string::npos);
    EXPECT_EQ(store.integerForKey("stagevueSendPort"), 6000);
    EXPECT_EQ(store.integerForKey("monomeSendPort"), 0);
    EXPECT_EQ(store.integerForKey("port"), 2) << "the last of repeated keys counts";
    EXPECT_EQ(store.integerForKey("favourite"), 7) << "a last line without newline is read";

    store.setIntegerForKey(8080, "monomeSendPort");
    store.setIntegerForKey(3, "port");
    store.setIntegerForKey(8000, "monomeListenPort");
    EXPECT_EQ(readFile(),
              "# Velto's ports\nstagevueSendPort = 6000\n"
              "this is not a setting\n\nmonomeSendPort = oops\n"
              "port = 3\nport = 3\nfavourite=7\nmonomeListenPort = 8000\n");
    EXPECT_EQ(store.integerForKey("monomeSendPort"), 8080);
    EXPECT_EQ(log.lines().size(), 2u);
}

TEST_F(SettingsFileTest, UnreadableFileIsSaidOnceAndLeftAsItIs) {
    fs::create_directories(file);  // a directory where the file should be: unreadable even to root
    FileSettingsStore store(file);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.contains("Cannot read"));
    EXPECT_EQ(store.integerForKey("port"), 0);
    store.setIntegerForKey(5001, "port");
    EXPECT_EQ(store.integerForKey("port"), 5001);
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(fs::is_directory(file));
}

TEST_F(SettingsFileTest, UnwritableLocationIsSaidOnceAndValuesStayInMemory) {
    std::ofstream(dir / "blocker") << "a file, not a directory\n";
    const fs::path unwritable = dir / "blocker" / "velto" / "settings";
    FileSettingsStore store(unwritable);
    EXPECT_TRUE(log.lines().empty());
    store.setIntegerForKey(5001, "port");
    store.setIntegerForKey(8000, "other");
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.contains("Cannot save settings to " + unwritable.string()));
    EXPECT_EQ(store.integerForKey("port"), 5001);
}

TEST_F(SettingsFileTest, RewriteReplacesTheFileAtomicallyKeepingItsPermissions) {
    writeFile("port = 1\n");
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(file, mode);
    std::ifstream before(file);  // a reader of the old file sees it whole: replaced, not rewritten
    FileSettingsStore(file).setIntegerForKey(2, "port");
    std::string oldContent;
    std::getline(before, oldContent);
    EXPECT_EQ(oldContent, "port = 1");
    EXPECT_EQ(readFile(), "port = 2\n");
    EXPECT_EQ(fs::status(file).permissions(), mode);
    const auto names =
        std::distance(fs::directory_iterator(dir / "velto"), fs::directory_iterator());
    EXPECT_EQ(names, 1) << "a temporary file was left behind";
}

TEST_F(SettingsFileTest, ReloadReadsWhatChangedOnDisk) {
    writeFile("port = 1\nother = 3\n");
    FileSettingsStore store(file);
    writeFile("port = 2\n");
    EXPECT_EQ(store.integerForKey("port"), 1);
    store.reload();
    EXPECT_EQ(store.integerForKey("port"), 2);
    EXPECT_EQ(store.integerForKey("other"), 0) << "a key gone from the file is gone";
}

struct FileCase {
    const char* name;
    Lies lies;
    const char* content;                   // what the person wrote
    std::optional<std::int64_t> atStart;   // "port" as read at start (none: absent)
    const char* afterStart;                // the file once start-up wrote "port" and "other"
    std::optional<std::int64_t> onReload;  // "port" once a store that read 41001 reloads
    const char* afterReload;               // the file once the reload wrote "other"
    std::size_t startLines, reloadLines;   // lines logged
    friend void PrintTo(const FileCase& c, std::ostream* out) { *out << c.name; }
};

class SettingsFileStateTest : public SettingsFileTest,
                              public ::testing::WithParamInterface<FileCase> {
protected:
    static std::optional<std::int64_t> port(FileSettingsStore& store) {
        return store.hasValueForKey("port") ? std::optional(store.integerForKey("port"))
                                            : std::nullopt;
    }
    void expectNoTemporaryFile() {
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            const auto name = entry.path().filename();
            EXPECT_TRUE(name == "velto" || name == "settings" || name == "elsewhere")
                << entry.path();
        }
    }
};

// Nothing the person wrote is lost, at start or on reload, and a reload of a
// file that cannot be read changes nothing.
TEST_P(SettingsFileStateTest, StartAndReloadKeepWhatThePersonWrote) {
    const FileCase& c = GetParam();
    if (c.lies == Lies::unreadable && ::geteuid() == 0)
        GTEST_SKIP() << "root reads a file of mode 000";
    lay(c.lies, c.content);
    const auto mode = fs::status(file).permissions();
    {
        FileSettingsStore store(file);
        EXPECT_EQ(port(store), c.atStart);
        store.setIntegerForKey(c.atStart.value_or(0) != 0 ? *c.atStart : 8000,
                               "port");  // as start-up does
        store.setIntegerForKey(5000, "other");
        EXPECT_EQ(store.integerForKey("other"), 5000) << "in memory at least";
    }
    if (c.lies != Lies::missing) {
        EXPECT_EQ(fs::status(file).permissions(), mode);
    }
    EXPECT_EQ(fs::is_symlink(file), c.lies == Lies::symlink);
    expectNoTemporaryFile();
    EXPECT_EQ(state(), c.afterStart);
    EXPECT_EQ(log.lines().size(), c.startLines);

    lay(Lies::regular, "port = 41001\n");
    FileSettingsStore store(file);
    lay(c.lies, c.content);
    store.reload();
    EXPECT_EQ(port(store), c.onReload);
    store.setIntegerForKey(5000, "other");
    EXPECT_EQ(state(), c.afterReload);
    EXPECT_EQ(log.lines().size(), c.startLines + c.reloadLines);
}

INSTANTIATE_TEST_SUITE_P(
    States, SettingsFileStateTest,
    ::testing::Values(
        FileCase{"Missing",
                 Lies::missing,
                 "",
                 {},
                 "port = 8000\nother = 5000\n",
                 41001,
                 "(missing)",
                 0,
                 1},
        FileCase{"Empty", Lies::regular, "", {}, "port = 8000\nother = 5000\n", 41001, "", 0, 1},
        FileCase{"Directory", Lies::directory, "", {}, "(directory)", 41001, "(directory)", 1, 1},
        FileCase{"Unreadable",
                 Lies::unreadable,
                 "port = 41002\n",
                 {},
                 "port = 41002\n",
                 41001,
                 "port = 41002\n",
                 1,
                 1},
        FileCase{"Symlink", Lies::symlink, "port = 41002\n", 41002, "port = 41002\nother = 5000\n",
                 41002, "port = 41002\nother = 5000\n", 0, 0},
        FileCase{"ReadOnly", Lies::readOnly, "port = 41002\n", 41002, "port = 41002\n", 41002,
                 "port = 41002\n", 1, 1},
        FileCase{"Typo",
                 Lies::regular,
                 "port = 41o2\n",
                 {},
                 "port = 41o2\nother = 5000\n",
                 {},
                 "port = 41o2\nother = 5000\n",
                 1,
                 1},
        FileCase{"Comment", Lies::regular, " port=0  # my grid\n", 0,
                 " port=8000  # my grid\nother = 5000\n", 0, " port=0  # my grid\nother = 5000\n",
                 0, 0},
        FileCase{"ByteOrderMark", Lies::regular, "\xEF\xBB\xBFport = 41002\n", 41002,
                 "\xEF\xBB\xBFport = 41002\nother = 5000\n", 41002,
                 "\xEF\xBB\xBFport = 41002\nother = 5000\n", 0, 0},
        FileCase{"LeftoverTemporaryFile", Lies::leftover, "port = 41002\n", 41002,
                 "port = 41002\nother = 5000\n", 41002, "port = 41002\nother = 5000\n", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A port that the file could not take (given on the command line) holds across
// reloads until the file names another for its key.
TEST_F(SettingsFileTest, ValueKeptInMemoryHoldsAcrossReloadsUntilTheFileNamesAnother) {
    const struct {
        Lies lies;
        const char* content;
    } cases[] = {{Lies::readOnly, "port = 41001\n"},
                 {Lies::regular, "port = 41o1\n"},
                 {Lies::directory, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        lay(c.lies, c.content);
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

// Sets (value) or unsets (null) an environment variable for the length of a test.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        set(value);
    }
    ~ScopedEnv() { set(old_ ? old_->c_str() : nullptr); }

private:
    void set(const char* value) { value ? setenv(name_, value, 1) : unsetenv(name_); }
    const char* name_;
    std::optional<std::string> old_;
};

TEST(SettingsDefaultPath, FollowsAnAbsoluteXdgConfigHomeElseHome) {
#ifdef __APPLE__
    const char* const inHome = "/home/ada/Library/Application Support/velto/settings";
#else
    const char* const inHome = "/home/ada/.config/velto/settings";
#endif
    const struct {
        const char* xdgConfigHome;  // null: unset
        const char* expected;
    } cases[] = {
        {"/etc/xdg-ada", "/etc/xdg-ada/velto/settings"},
        {nullptr, inHome},
        {"", inHome},
        {"relative/config", inHome},
    };
    ScopedEnv home("HOME", "/home/ada");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xdgConfigHome ? c.xdgConfigHome : "(unset)");
        ScopedEnv xdg("XDG_CONFIG_HOME", c.xdgConfigHome);
        EXPECT_EQ(FileSettingsStore::defaultPath(), fs::path(c.expected));
    }
}

}  // namespace
}  // namespace velto
