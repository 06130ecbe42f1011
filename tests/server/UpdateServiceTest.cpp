// The whole update against the reference service, over plain HTTP and HTTPS: the version
// check offers the stored version, the client fetches the stored signature and package and
// runs the package only when the signature verifies.

#include "core/uCfg.h"
#include "core/uEndpoint.h"
#include "core/uTasks.h"
#include "core/uTools.h"
#include "tests/core/FakeWindow.h"
#include "tests/core/TaskFixture.h"
#include "tests/server/RunningServer.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/SigningKeys.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/Wait.h"

#include <filesystem>
#include <gmock/gmock.h>
#include <optional>

namespace testing_support {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::StartsWith;

// Notes that it ran and leaves an updater that notes its start.
const std::string kPackage = R"(#!/bin/sh
pwd > package-ran.txt
printf '#!/bin/sh\necho started > updater-ran.txt\n' > update.exe
chmod 700 update.exe
)";
const std::string kComment = "corvale-update version=0.3.12.30";

class UpdateFromTheService : public ::testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() { Keys(); }
    static ServerSetup WithCertificate(const PemPair& identity) {
        auto setup = RunningServer::DefaultSetup();
        setup.TlsCertificate = identity.certificate;
        setup.TlsKey = identity.key;
        return setup;
    }
    void SetUp() override {
        fs::create_directories(root_ / "app");
        WriteFile(authorityFile_, authority_.CertificatePem());
        InitCfg("/opt/corvale/corvale", "OFFICE-PC");
        Cfg.AppPath = (root_ / "app").string() + "/";
        const bool secure = GetParam();
        TServiceEndpoint endpoint =
            secure ? TServiceEndpoint{"localhost", server_.SecurePort(), true, authorityFile_}
                   : TServiceEndpoint{"127.0.0.1", server_.Port()};
        endpoint.UpdateKeys = Keys().KeyLine("operator");
        SetServiceEndpoint(endpoint);
        SetWindowOps(&window_);
        ASSERT_TRUE(server_.Storage().SetOfferedVersion("0.3.12.30"));
        // One exchange first, so that threads the service starts for its first connection of
        // a kind are not taken for a task still running.
        ASSERT_EQ(ServiceCall(ServiceRequestUrl("clver")), "OK 0\n3\n12\n30");
        ASSERT_TRUE(WaitUntil([&] {
            const int now = ThreadCount();
            const bool steady = now == lastCount_;
            lastCount_ = now;
            return steady;
        }));
        baselineThreads_ = ThreadCount();
    }
    void TearDown() override {
        window_.ReleaseMessages();
        EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= baselineThreads_; }));
        SetWindowOps(nullptr);
        SetServiceEndpoint(DefaultServiceEndpoint());
    }
    void Offer(const std::string& package, const std::string& signature) {
        ASSERT_TRUE(server_.Storage().SetPackage(package));
        ASSERT_TRUE(server_.Storage().SetPackageSignature(signature));
    }
    // "Check for updates...", answered Yes twice.
    void CheckForUpdates() {
        window_.QueueAnswer(TMsgAnswer::Yes);
        window_.QueueAnswer(TMsgAnswer::Yes);
        StartClver();
    }
    fs::path Folder() const { return root_ / "tmp" / "corvale_update"; }

    TempFolder temp_;
    const fs::path root_ = temp_.Path();
    const bool tmpMade_ = fs::create_directories(root_ / "tmp"); // before TMPDIR points there
    ScopedEnv tmpDir_{"TMPDIR", (root_ / "tmp").string()};
    TestAuthority authority_;
    std::string authorityFile_ = root_ / "authority.pem";
    RunningServer server_{WithCertificate(authority_.Issue())};
    FakeWindow window_;
    int baselineThreads_ = 0;
    int lastCount_ = -1;
};

TEST_P(UpdateFromTheService, ASignedPackageRunsAndHandsOverToTheUpdater) {
    Offer(kPackage, Keys().Sign(kPackage, kComment));
    CheckForUpdates();
    ASSERT_TRUE(window_.WaitForCall("PostQuitForUpdate"));
    EXPECT_TRUE(fs::exists(Folder() / "package-ran.txt"));
    EXPECT_FALSE(fs::exists(Folder() / "cvlupf.exe"));
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(Folder() / "updater-ran.txt"); }));
}

// Each refusal the service can bring about: nothing runs, no package is left, the box says
// why, and the next check may try again.
TEST_P(UpdateFromTheService, RefusedPackagesAreDeletedAndNotRun) {
    struct Case {
        const char* name;
        std::string package;
        std::optional<std::string> signature; // none: the service has no signature
        std::string reason;
    };
    for (const Case& c : {
             Case{"changed after signing", kPackage + "echo changed\n",
                  Keys().Sign(kPackage, kComment), "the signature does not match the package"},
             Case{"unknown key", kPackage, Keys().Sign(kPackage, kComment, "stranger"),
                  "signed by the unknown key"},
             Case{"another version", kPackage,
                  Keys().Sign(kPackage, "corvale-update version=0.3.12.31"),
                  "the signature is for version 0.3.12.31, not for the version offered"},
             Case{"no signature", kPackage, std::nullopt, "the signature file is malformed"},
         }) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(server_.Storage().SetPackage(c.package));
        ASSERT_TRUE(server_.Storage().SetPackageSignature(c.signature));
        const int answered = window_.CountPrefix("MessageAnswered|Updates");
        CheckForUpdates();
        ASSERT_TRUE(window_.WaitForPrefix("MessageAnswered|Updates", answered + 3));
        const auto calls = window_.Calls();
        EXPECT_THAT(calls[calls.size() - 2],
                    StartsWith("ShowMessage|Updates|The update could not be verified and was not "
                               "installed.\n\nReason: " +
                               c.reason));
        ASSERT_TRUE(WaitUntil([&] { return ThreadCount() <= baselineThreads_; }));
        EXPECT_FALSE(fs::exists(Folder() / "cvlupf.exe"));
        EXPECT_FALSE(fs::exists(Folder() / "package-ran.txt"));
        EXPECT_EQ(window_.CountPrefix("PostQuitForUpdate"), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, UpdateFromTheService, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Https" : "PlainHttp"; });

} // namespace
} // namespace testing_support
