// The user's folders: where they are, and that a folder another user made, or a link in its place, is
// refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/UserFolders.h"
#include "platform/testing/TestEnvironment.h"

using testsupport::ScopedVariable;

namespace {

unsigned modeOf(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

}  // namespace

TEST(UserFolders, ComeFromTheirVariablesOrTheHomeFolder) {
    auto home = testsupport::makeTempDir("home");
    ScopedVariable homeVariable("HOME", home.native());
    {
        ScopedVariable config("XDG_CONFIG_HOME", "/somewhere/config");
        ScopedVariable data("XDG_DATA_HOME", "/somewhere/data");
        ScopedVariable state("XDG_STATE_HOME", "/somewhere/state");
        ScopedVariable runtime("XDG_RUNTIME_DIR", "/somewhere/run");
        EXPECT_EQ(platform::configHome(), "/somewhere/config");
        EXPECT_EQ(platform::dataHome(), "/somewhere/data");
        EXPECT_EQ(platform::stateHome(), "/somewhere/state");
        EXPECT_EQ(platform::runtimeFolder(), "/somewhere/run");
    }
    // Unset or not absolute: the defaults. Without a runtime folder of the login manager's, sockets and locks
    // go to the user's state folder, never to a shared one that another user could take first.
    for (const char* value : {static_cast<const char*>(nullptr), "relative/path"}) {
        std::optional<std::string> set = value ? std::optional<std::string>(value) : std::nullopt;
        ScopedVariable config("XDG_CONFIG_HOME", set);
        ScopedVariable data("XDG_DATA_HOME", set);
        ScopedVariable state("XDG_STATE_HOME", set);
        ScopedVariable runtime("XDG_RUNTIME_DIR", set);
        EXPECT_EQ(platform::configHome(), home / ".config");
        EXPECT_EQ(platform::dataHome(), home / ".local" / "share");
        EXPECT_EQ(platform::stateHome(), home / ".local" / "state");
        auto login = std::filesystem::path("/run/user") / std::to_string(::geteuid());
        struct stat info {};
        bool loginFolder =
            ::lstat(login.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
        EXPECT_EQ(platform::runtimeFolder(),
                  loginFolder ? login : home / ".local" / "state" / "quorvane" / "runtime");
    }
}

TEST(UserFolders, PrivateFolderIsMadeOrNarrowedAndMustBeTheUsersOwn) {
    auto root = testsupport::makeTempDir("private");

    auto made = root / "a" / "b" / "c";
    EXPECT_TRUE(platform::makePrivateFolder(made));
    for (auto folder : {root / "a", root / "a" / "b", made})
        EXPECT_EQ(modeOf(folder), 0700u) << folder;

    auto open = root / "open";
    std::filesystem::create_directory(open);
    ::chmod(open.c_str(), 0777);
    EXPECT_TRUE(platform::makePrivateFolder(open));
    EXPECT_EQ(modeOf(open), 0700u);

    struct Case {
        const char* name;
        const char* path;  // in a fresh folder
        std::function<void(const std::filesystem::path&)> plant;
    };
    const Case refused[] = {
        {"a link to a folder of the user's", "link",
         [&](auto& path) { std::filesystem::create_directory_symlink(made, path); }},
        {"a file", "file", [](auto& path) { std::ofstream(path) << "x"; }},
        {"below a file", "file/folder", [](auto& path) { std::ofstream(path.parent_path()) << "x"; }},
        {"another user's folder, open to all", "taken",
         [](auto& path) {
             std::filesystem::create_directory(path);
             ::chmod(path.c_str(), 0777);
             ASSERT_EQ(::chown(path.c_str(), ::geteuid() + 1, ::getegid()), 0);
         }},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        if (::geteuid() != 0 && std::string(c.path) == "taken")
            continue;  // giving a folder away takes root
        auto path = testsupport::makeTempDir("refused") / c.path;
        c.plant(path);
        EXPECT_FALSE(platform::makePrivateFolder(path));
    }
    EXPECT_EQ(modeOf(made), 0700u);  // untouched through the link
}
