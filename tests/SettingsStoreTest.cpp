#include "platform/SettingsStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <ostream>
#include <sstream>

#include "platform/Log.h"

namespace velto {
namespace {

namespace fs = std::filesystem;

TEST(MemorySettingsStore, AbsentKeyReadsZeroAndWrittenValuesReadBack) {
    MemorySettingsStore store;
    EXPECT_EQ(store.integerForKey("stagevueSendPort"), 0);
    store.setIntegerForKey(5000, "stagevueSendPort");
    store.setIntegerForKey(-3, "stagevueSendPort");
    EXPECT_EQ(store.integerForKey("stagevueSendPort"), -3);
    EXPECT_EQ(store.values().size(), 1u);
}

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
        fs::permissions(file, fs::perms::owner_all, ignored);
        fs::remove_all(dir, ignored);
    }
    void writeFile(const std::string& content) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
    }
    std::string readFile() const {
        std::ifstream in(file, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }

    Log::Capture log;
    fs::path dir;
    fs::path file;
};

TEST_F(SettingsFileTest, MissingFileIsAnEmptyStoreAndIsNotCreatedByReading) {
    FileSettingsStore store(file);
    EXPECT_EQ(store.integerForKey("monomeListenPort"), 0);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(SettingsFileTest, WriteMakesTheDirectoryAndALineThatAnotherStoreReads) {
    {
        FileSettingsStore store(file);
        store.setIntegerForKey(5000, "stagevueSendPort");
        store.setIntegerForKey(8000, "monomeListenPort");
    }
    EXPECT_EQ(readFile(), "stagevueSendPort = 5000\nmonomeListenPort = 8000\n");
    FileSettingsStore again(file);
    EXPECT_EQ(again.integerForKey("stagevueSendPort"), 5000);
    EXPECT_EQ(again.integerForKey("monomeListenPort"), 8000);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(SettingsFileTest, ExtremeValuesSurviveTheRoundTrip) {
    const std::int64_t values[] = {std::numeric_limits<std::int64_t>::min(),
                                   std::numeric_limits<std::int64_t>::max(), -1, 0, 70000};
    for (const std::int64_t value : values) {
        FileSettingsStore(file).setIntegerForKey(value, "port");
        EXPECT_EQ(FileSettingsStore(file).integerForKey("port"), value);
    }
}

struct LineCase {
    const char* line;
    std::optional<std::int64_t> value;  // none: the key reads as absent
    friend std::ostream& operator<<(std::ostream& out, const LineCase& c) {
        return out << '"' << c.line << '"';
    }
};

class SettingsLineTest : public SettingsFileTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(SettingsLineTest, ValueIsReadStrictlyOrTheKeyIsAbsentWithOneDiagnostic) {
    writeFile(std::string(GetParam().line) + "\n");
    FileSettingsStore store(file);
    if (GetParam().value) {
        EXPECT_EQ(store.integerForKey("port"), *GetParam().value);
        EXPECT_TRUE(log.lines().empty());
    } else {
        EXPECT_EQ(store.integerForKey("port"), 0);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_TRUE(log.contains(file.string()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SettingsLineTest,
    ::testing::Values(LineCase{"port = 5001", 5001}, LineCase{"port=5001", 5001},
                      LineCase{"  port \t=\t -7  ", -7}, LineCase{"port = 5001\r", 5001},
                      LineCase{"port = -9223372036854775808", std::numeric_limits<std::int64_t>::min()},
                      LineCase{"port = ", std::nullopt}, LineCase{"port = 50x", std::nullopt},
                      LineCase{"port = 50 1", std::nullopt}, LineCase{"port = 0x10", std::nullopt},
                      LineCase{"port = 1.5", std::nullopt}, LineCase{"port = +5", std::nullopt},
                      LineCase{"port = 9223372036854775808", std::nullopt},
                      LineCase{"port = 5 # note", std::nullopt}, LineCase{"port 5", std::nullopt},
                      LineCase{"por t = 5", std::nullopt}, LineCase{"= 5", std::nullopt}));

TEST_F(SettingsFileTest, CommentsUnknownKeysAndGarbledLinesAreKeptInOrderOnRewrite) {
    writeFile(
        "# Velto's ports\n"
        "stagevueSendPort = 6000\n"
        "this is not a setting\n"
        "\n"
        "colour = blue\n"
        "favourite=7\n"
        "monomeSendPort=9\n");
    FileSettingsStore store(file);
    EXPECT_EQ(log.lines().size(), 1u) << "two garbled lines, one diagnostic";
    EXPECT_TRUE(log.contains("2 lines"));
    EXPECT_EQ(store.integerForKey("stagevueSendPort"), 6000);
    EXPECT_EQ(store.integerForKey("colour"), 0);

    store.setIntegerForKey(8080, "monomeSendPort");
    store.setIntegerForKey(8000, "monomeListenPort");
    EXPECT_EQ(readFile(),
              "# Velto's ports\n"
              "stagevueSendPort = 6000\n"
              "this is not a setting\n"
              "\n"
              "colour = blue\n"
              "favourite=7\n"
              "monomeSendPort = 8080\n"
              "monomeListenPort = 8000\n");
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST_F(SettingsFileTest, WritingAKeyReplacesItsGarbledValue) {
    writeFile("port = oops\nother = 1\n");
    FileSettingsStore store(file);
    store.setIntegerForKey(3, "port");
    EXPECT_EQ(readFile(), "port = 3\nother = 1\n");
}

TEST_F(SettingsFileTest, LastOfRepeatedKeysCountsAndAWriteSetsThemAll) {
    writeFile("port = 1\nport = 2\n");
    FileSettingsStore store(file);
    EXPECT_EQ(store.integerForKey("port"), 2);
    store.setIntegerForKey(3, "port");
    EXPECT_EQ(readFile(), "port = 3\nport = 3\n");
}

TEST_F(SettingsFileTest, LastLineWithoutNewlineIsRead) {
    writeFile("port = 1");
    FileSettingsStore store(file);
    EXPECT_EQ(store.integerForKey("port"), 1);
    store.setIntegerForKey(2, "other");
    EXPECT_EQ(readFile(), "port = 1\nother = 2\n");
}

TEST_F(SettingsFileTest, UnreadableFileIsSaidOnceAndLeftAsItIs) {
    fs::create_directories(file);  // a directory where the file should be: unreadable even to root
    FileSettingsStore store(file);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.contains("Cannot read"));
    EXPECT_EQ(store.integerForKey("port"), 0);
    store.setIntegerForKey(5001, "port");
    store.setIntegerForKey(5002, "other");
    EXPECT_EQ(store.integerForKey("port"), 5001);
    EXPECT_EQ(store.integerForKey("other"), 5002);
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(fs::is_directory(file));
}

TEST_F(SettingsFileTest, FileWithoutReadPermissionIsNotOverwritten) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
    writeFile("port = 1\n");
    fs::permissions(file, fs::perms::none);
    FileSettingsStore store(file);
    EXPECT_EQ(log.lines().size(), 1u);
    store.setIntegerForKey(2, "port");
    EXPECT_EQ(store.integerForKey("port"), 2);
    fs::permissions(file, fs::perms::owner_read);
    EXPECT_EQ(readFile(), "port = 1\n");
}

TEST_F(SettingsFileTest, UnwritableLocationIsSaidOnceAndValuesStayInMemory) {
    std::ofstream(dir / "blocker") << "a file, not a directory\n";
    const fs::path unwritable = dir / "blocker" / "velto" / "settings";
    FileSettingsStore store(unwritable);
    EXPECT_TRUE(log.lines().empty());
    store.setIntegerForKey(5001, "port");
    store.setIntegerForKey(8000, "other");
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.contains("Cannot save"));
    EXPECT_TRUE(log.contains(unwritable.string()));
    EXPECT_EQ(store.integerForKey("port"), 5001);
    EXPECT_EQ(store.integerForKey("other"), 8000);
}

TEST_F(SettingsFileTest, RewriteReplacesTheFileAtomicallyAndLeavesNoTemporaryFile) {
    writeFile("port = 1\n");
    std::ifstream before(file);  // a reader that opened the old file keeps seeing it whole
    struct stat oldInfo {};
    ASSERT_EQ(stat(file.c_str(), &oldInfo), 0);
    FileSettingsStore store(file);
    store.setIntegerForKey(2, "port");
    struct stat newInfo {};
    ASSERT_EQ(stat(file.c_str(), &newInfo), 0);
    EXPECT_NE(newInfo.st_ino, oldInfo.st_ino) << "rewritten in place, not replaced";
    std::string oldContent;
    std::getline(before, oldContent);
    EXPECT_EQ(oldContent, "port = 1");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(file.parent_path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"settings"});
}

TEST_F(SettingsFileTest, RewriteKeepsThePermissionsOfTheFile) {
    writeFile("port = 1\n");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    FileSettingsStore(file).setIntegerForKey(2, "port");
    EXPECT_EQ(fs::status(file).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(SettingsFileTest, ReloadReadsWhatChangedOnDisk) {
    writeFile("port = 1\n");
    FileSettingsStore store(file);
    writeFile("port = 2\nother = 3\n");
    EXPECT_EQ(store.integerForKey("port"), 1);
    store.reload();
    EXPECT_EQ(store.integerForKey("port"), 2);
    EXPECT_EQ(store.integerForKey("other"), 3);
    writeFile("port = two\n");
    store.reload();
    EXPECT_EQ(store.integerForKey("port"), 0);
    EXPECT_EQ(store.integerForKey("other"), 0);
    EXPECT_EQ(log.lines().size(), 1u);
}

// Sets (or unsets) an environment variable for the length of a test.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

struct PathCase {
    const char* xdgConfigHome;  // null: unset
    const char* expected;
    friend std::ostream& operator<<(std::ostream& out, const PathCase& c) {
        return out << "XDG_CONFIG_HOME=" << (c.xdgConfigHome ? c.xdgConfigHome : "(unset)");
    }
};

class DefaultPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(DefaultPathTest, FollowsXdgConfigHomeElseHome) {
    ScopedEnv home("HOME", "/home/ada");
    ScopedEnv xdg("XDG_CONFIG_HOME", GetParam().xdgConfigHome);
    EXPECT_EQ(FileSettingsStore::defaultPath(), fs::path(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Environment, DefaultPathTest,
    ::testing::Values(PathCase{"/etc/xdg-ada", "/etc/xdg-ada/velto/settings"},
                      PathCase{nullptr, "/home/ada/.config/velto/settings"},
                      PathCase{"", "/home/ada/.config/velto/settings"},
                      PathCase{"relative/config", "/home/ada/.config/velto/settings"}));

}  // namespace
}  // namespace velto
