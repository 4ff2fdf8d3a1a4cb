// The relay on a machine with several users: each user's relay starts through that user's launch agent (the
// definition as the build ships it), keeps its log in that user's own state folder and serves that user; a
// log folder that someone else has taken keeps no relay from serving.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/LaunchAgent.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"
#include "platform/tokens/TokenStore.h"
#include "relay/testing/RelayTestSupport.h"

using namespace relaytest;
namespace fs = std::filesystem;

namespace {

const std::string instanceID = "CARD-USER";

// One user of the machine: folders of their own, the programs copied where they may run them, a token
// configuration with a certificate, and the relay's launch agent registered.
class MachineUser {
  public:
    explicit MachineUser(uid_t uid)
        : uid_(uid),
          base_(testsupport::makeTempDir("user-" + std::to_string(uid))),
          programs_(copyProgramsForOtherUsers(base_ / "programs")),
          agent_(relay::launchAgentPlistName, base_ / "LaunchAgents",
                 config() / "quorvane" / "launch-agents.json"),
          issued_(certificateFor(uid)) {
        letOtherUsersPass(base_);
        for (const auto& folder : {runtime(), config(), data(), state(), work(), base_ / "LaunchAgents"})
            fs::create_directories(folder);
        fs::permissions(runtime(), fs::perms::owner_all, fs::perm_options::replace);

        auto shipped = nlohmann::json::parse(
            readFile(testsupport::binaryDir().parent_path() / "LaunchAgents" / relay::launchAgentPlistName));
        shipped["Program"] = programs_.brokel.native();
        std::ofstream(base_ / "LaunchAgents" / relay::launchAgentPlistName) << shipped.dump();
        agent_.registerAgent();

        platform::tokens::TokenStore store(data() / "quorvane" / "tokens" / platform::tokens::driverClassID);
        store.installDriver();
        store.writeConfiguration(
            platform::tokens::TokenConfiguration::forCertificate(instanceID, issued_.der()));
        std::ofstream(work() / "key.pem") << issued_.privateKeyPEM();

        giveToUser(base_, uid);
    }

    ~MachineUser() {
        // Unregistering ends the relay that the agent started.
        testsupport::ScopedVariable runtimeFolder("XDG_RUNTIME_DIR", runtime().native());
        agent_.unregisterAgent();
    }

    fs::path runtime() const { return base_ / "runtime"; }
    fs::path config() const { return base_ / "config"; }
    fs::path data() const { return base_ / "data"; }
    fs::path state() const { return base_ / "state"; }
    fs::path work() const { return base_ / "work"; }
    fs::path log() const { return state() / "quorvane" / "logs" / "brokel_std.txt"; }

    std::vector<std::pair<std::string, std::string>> environment() const {
        return {{"XDG_RUNTIME_DIR", runtime().native()},
                {"XDG_DATA_HOME", data().native()},
                {"XDG_CONFIG_HOME", config().native()},
                {"XDG_STATE_HOME", state().native()},
                {"HOME", work().native()},
                {"QUORVANE_TIME_SCALE", "0.2"}};
    }

    // The relay that the agent started for this user, as the instance lock names it.
    pid_t relayPID() const {
        std::string text =
            readFile(runtime() / "quorvane-agents" / "com.tovik.kelv-pc-signing-macos.brokel.instance");
        return text.empty() ? 0 : static_cast<pid_t>(std::stol(text));
    }

    // pkcs11-tool signs the digest with the token module as this user while the app peer answers; whichever
    // of them comes first starts the relay. The signature verifies with the user's key, or the test fails.
    void signAndVerify(const Bytes& digest) {
        writeBytes(work() / "digest", digest);
        BackgroundProgram app(
            {programs_.app.native(), (work() / "key.pem").native(), "1", (work() / "requests.txt").native()},
            environment(), uid_);
        auto result =
            runProgram({"pkcs11-tool", "--module", programs_.module.native(), "--token-label", instanceID,
                        "--sign", "--mechanism", "ECDSA", "--id", toHex(instanceID), "--input-file",
                        (work() / "digest").native(), "--output-file", (work() / "signature").native()},
                       environment(), uid_);
        ASSERT_EQ(result.status, 0) << result.output << readFile(log());
        EXPECT_EQ(app.waitForExit(), 0);
        std::string signature = readFile(work() / "signature");
        EXPECT_TRUE(verifies(issued_.key.get(), digest, Bytes(signature.begin(), signature.end())));
    }

  private:
    static testsupport::Issued certificateFor(uid_t uid) {
        testsupport::CertificateRequest request;
        request.commonName = "User " + std::to_string(uid);
        return testsupport::makeSelfSigned(request);
    }
    static void writeBytes(const fs::path& path, const Bytes& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    uid_t uid_;
    fs::path base_;
    OtherUserPrograms programs_;
    platform::LaunchAgent agent_;
    testsupport::Issued issued_;
};

uid_t ownerOf(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
}

class RelayUsers : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "acting as other users takes root";
    }
    // The relays open their own logs: nothing tells them where their output goes.
    testsupport::ScopedVariable noStartedLog{"QUORVANE_BROKEL_LOG_PATH", std::nullopt};
};

}  // namespace

TEST_F(RelayUsers, EachUsersRelayStartsAndServesThatUser) {
    MachineUser first(65534);
    MachineUser second(65533);
    first.signAndVerify(Bytes(32, 0x11));
    second.signAndVerify(Bytes(32, 0x22));
    first.signAndVerify(Bytes(32, 0x33));  // the first user's relay served on while the second one's ran

    for (const auto* user : {&first, &second}) {
        pid_t relay = user->relayPID();
        ASSERT_GT(relay, 0);
        EXPECT_TRUE(testsupport::isRunning(relay));
        EXPECT_EQ(ownerOf("/proc/" + std::to_string(relay)), ownerOf(user->work()));
        EXPECT_EQ(ownerOf(user->log().parent_path()), ownerOf(user->work()));
        struct stat info {};
        ASSERT_EQ(::stat(user->log().parent_path().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        auto lines = logMessages(readFile(user->log()));
        EXPECT_EQ(countOf(lines, "info: *************** New XPC server process started ***************"), 1u);
        EXPECT_EQ(countOf(lines, "info: XPC signature exchange completed with success"),
                  user == &first ? 2u : 1u);
    }
    EXPECT_NE(first.relayPID(), second.relayPID());
}

TEST_F(RelayUsers, LogFolderTakenBySomeoneElseKeepsNoRelayFromServing) {
    struct Case {
        const char* name;
        bool link;  // the log folder is a link to the other user's folder, rather than that folder itself
    };
    for (auto c : {Case{"another user's folder, open to all", false}, Case{"a link to it", true}}) {
        SCOPED_TRACE(c.name);
        MachineUser user(65534);
        auto taken = c.link ? testsupport::makeTempDir("taken") : user.log().parent_path();
        fs::create_directories(taken);
        ::chmod(taken.c_str(), 0777);
        ::chown(taken.c_str(), 65533, 65533);
        if (c.link) {
            fs::create_directories(user.log().parent_path().parent_path());
            fs::create_directory_symlink(taken, user.log().parent_path());
        }

        user.signAndVerify(Bytes(32, 0x44));
        EXPECT_TRUE(fs::is_empty(taken));  // neither the relay nor the token module logged there
        EXPECT_TRUE(testsupport::isRunning(user.relayPID()));
    }
}
