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
        {"port=5001", 5001}, {"  port \t=\t -7  ", -7}, {"port = 5001\r", 5001},
        {"port = ", {}},     {"port = 50x", {}},        {"port = 50 1", {}},
        {"port = 0x10", {}}, {"port = +5", {}},         {"port = 9223372036854775808", {}},
        {"port 5", {}},      {"por t = 5", {}},         {"= 5", {}},
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
// garbled lines stay where they were; only the keys written change.
TEST_F(SettingsFileTest, RewriteKeepsEveryOtherLineInOrder) {
    writeFile(
        "# Velto's ports\nstagevueSendPort = 6000\n"
        "this is not a setting\n\nmonomeSendPort = oops\n"
        "port = 1\nport = 2\nfavourite=7");
    FileSettingsStore store(file);
    EXPECT_EQ(log.lines().size(), 1u) << "two garbled lines, one diagnostic";
    EXPECT_TRUE(log.contains("2 lines"));
    EXPECT_EQ(store.integerForKey("stagevueSendPort"), 6000);
    EXPECT_EQ(store.integerForKey("monomeSendPort"), 0);
    EXPECT_EQ(store.integerForKey("port"), 2) << "the last of repeated keys counts";
    EXPECT_EQ(store.integerForKey("favourite"), 7) << "a last line without newline is read";

    store.setIntegerForKey(8080, "monomeSendPort");
    store.setIntegerForKey(3, "port");
    store.setIntegerForKey(8000, "monomeListenPort");
    EXPECT_EQ(readFile(),
              "# Velto's ports\nstagevueSendPort = 6000\n"
              "this is not a setting\n\nmonomeSendPort = 8080\n"
              "port = 3\nport = 3\nfavourite=7\nmonomeListenPort = 8000\n");
    EXPECT_EQ(log.lines().size(), 1u);
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
    const struct {
        const char* xdgConfigHome;  // null: unset
        const char* expected;
    } cases[] = {
        {"/etc/xdg-ada", "/etc/xdg-ada/velto/settings"},
        {nullptr, "/home/ada/.config/velto/settings"},
        {"", "/home/ada/.config/velto/settings"},
        {"relative/config", "/home/ada/.config/velto/settings"},
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
