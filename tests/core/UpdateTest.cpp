// The version check and the self-update, run for real in a temporary folder.

#include "core/uTasks.h"
#include "core/uTasksUpdate.h"
#include "tests/core/TaskFixture.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace testing_support {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs every test in a temporary folder of its own that serves as the system's temporary
// folder (TMPDIR) and holds the program folder, whose name has a blank in it.
class UpdateTest : public TaskTest {
protected:
    void SetUp() override {
        fs::create_directories(root_ / "tmp");
        fs::create_directories(root_ / "my app");
        TaskTest::SetUp();
        Cfg.AppPath = (root_ / "my app").string() + "/";
    }
    void TearDown() override {
        TaskTest::TearDown(); // every task has ended before the folder goes
    }

    fs::path Folder() const { return root_ / "tmp" / "corvale_update"; }
    fs::path Package() const { return Folder() / "cvlupf.exe"; }
    void ServePackage(const std::string& script) { Reply(script); }
    void RunUpdate() {
        StartDlupdate();
        ASSERT_TRUE(WaitForTasksToEnd());
    }

    testing_support::TempFolder temp_;
    const fs::path root_ = temp_.Path();
    testing_support::ScopedEnv tmpDir_{"TMPDIR", (root_ / "tmp").string()};
};

// A package that takes its time (so a client that does not wait would find no updater), notes
// where it ran, and leaves an updater that writes its folder, its first argument (the program
// folder, by the updater contract) and how many it got.
const std::string kPackage = R"(#!/bin/sh
sleep 0.2
pwd > package-ran.txt
cat > update.exe <<'UPDATER'
#!/bin/sh
{ pwd; echo "folder=[$1]"; echo "count=$#"; } > updater-ran.tmp
mv updater-ran.tmp updater-ran.txt
UPDATER
chmod 700 update.exe
)";

TEST_F(UpdateTest, Paths) {
    EXPECT_EQ(UpdateFolder(), (root_ / "tmp").string() + "/corvale_update/");
    EXPECT_EQ(UpdatePackagePath(), UpdateFolder() + "cvlupf.exe");
    EXPECT_EQ(UpdaterPath(), UpdateFolder() + "update.exe");
}

TEST_F(UpdateTest, RunsThePackageStartsTheUpdaterAndEndsTheProgram) {
    std::ofstream(root_ / "tmp" / "unrelated") << "x";
    ServePackage(kPackage);
    RunUpdate();

    EXPECT_THAT(Targets(), ElementsAre("/bin/corvale/cmd.php?action=dlupdate"));
    EXPECT_THAT(window_.Calls(), ElementsAre("PostQuitForUpdate"));
    EXPECT_EQ(ReadFile(Folder() / "package-ran.txt"), Folder().string() + "\n");
    EXPECT_FALSE(fs::exists(Package())) << "the package is deleted after it ran";
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(Folder() / "updater-ran.txt"); }));
    EXPECT_EQ(ReadFile(Folder() / "updater-ran.txt"),
              Folder().string() + "\nfolder=[" + root_.string() + "/my app/]\ncount=1\n");
    EXPECT_EQ(fs::status(Folder()).permissions() & (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none)
        << "nobody else may put a package there";
}

TEST_F(UpdateTest, TransferThatBreaksOffEndsQuietly) {
    LimitEachRead(200ms);
    ScriptedReply broken;
    broken.chunks = {"HTTP/1.0 200 OK\r\n\r\n#!/bin/sh\necho half"};
    broken.ending = ScriptedReply::Ending::Hang;
    server_.Enqueue(broken);
    RunUpdate();
    EXPECT_THAT(window_.Calls(), IsEmpty());
    EXPECT_EQ(ReadFile(Package()), "#!/bin/sh\necho half") << "kept until the next download";
    EXPECT_FALSE(fs::exists(Folder() / "package-ran.txt"));
}

// Scaled down, so that the size and nothing else can end the transfer.
TEST_F(UpdateTest, PackageTooLargeIsRemovedAndNotRun) {
    TNetLimits limits = NetLimits();
    limits.FileBody = 64 * 1024;
    testing_support::ScopedNetLimits scaled(limits);
    ScriptedReply huge;
    huge.chunks = {"HTTP/1.0 200 OK\r\n\r\n#!/bin/sh\npwd > package-ran.txt\nexit 0\n"};
    huge.fillerBytes = 1024 * 1024;
    server_.Enqueue(huge);
    RunUpdate();
    EXPECT_THAT(window_.Calls(), IsEmpty()) << "a broken transfer ends quietly";
    EXPECT_FALSE(fs::exists(Package()));
    EXPECT_FALSE(fs::exists(Folder() / "package-ran.txt"));
}

// A package on a slow line takes far longer than a service reply may take; it arrives as
// long as it keeps coming. Scaled down: it comes for several times the whole-exchange limit,
// at ten times the least progress a download must make.
TEST_F(UpdateTest, PackageDeliveredSlowlyButSteadilyArrivesAndRuns) {
    TNetLimits limits = NetLimits();
    limits.PerRead = 2s;
    limits.Exchange = 200ms;
    limits.FileProgressBytes = 8 * 1024;
    limits.FileProgressSpan = 1s;
    testing_support::ScopedNetLimits scaled(limits);
    ScriptedReply slow;
    slow.chunks = {"HTTP/1.0 200 OK\r\n\r\n" + kPackage};
    const std::string skippedByTheShell = "#" + std::string(2046, 'x') + "\n";
    slow.chunks.insert(slow.chunks.end(), 40, skippedByTheShell); // 80 KiB in 1 s
    slow.gap = 25ms;
    server_.Enqueue(slow);

    const auto started = std::chrono::steady_clock::now();
    RunUpdate();
    EXPECT_GT(std::chrono::steady_clock::now() - started, 4 * limits.Exchange);
    EXPECT_THAT(window_.Calls(), ElementsAre("PostQuitForUpdate"));
    EXPECT_EQ(ReadFile(Folder() / "package-ran.txt"), Folder().string() + "\n");
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(Folder() / "updater-ran.txt"); }));
}

// Every byte within the per-read limit, but far too few of them to ever make a package.
TEST_F(UpdateTest, PackageThatOnlyTricklesIsCutOffAndNotRun) {
    TNetLimits limits = NetLimits();
    limits.PerRead = 2s;
    limits.FileProgressBytes = 8 * 1024;
    limits.FileProgressSpan = 500ms;
    testing_support::ScopedNetLimits scaled(limits);
    const std::string reply = "HTTP/1.0 200 OK\r\n\r\n" + kPackage;
    ScriptedReply trickle = ScriptedReply::ByteByByte(reply);
    trickle.gap = 20ms; // all of it would be there in some seconds
    server_.Enqueue(trickle);

    RunUpdate();
    EXPECT_THAT(window_.Calls(), IsEmpty()) << "a broken transfer ends quietly";
    EXPECT_FALSE(fs::exists(Folder() / "package-ran.txt"));
    EXPECT_LT(ReadFile(Package()).size(), kPackage.size()) << "cut off on its way";
}

TEST_F(UpdateTest, NoConnectionEndsQuietlyAfterRemovingAnOldPackage) {
    fs::create_directories(Folder());
    std::ofstream(Package()) << "old";
    SetServiceEndpoint({"127.0.0.1", LoopbackServer::UnusedPort()});
    RunUpdate();
    EXPECT_THAT(window_.Calls(), IsEmpty());
    EXPECT_FALSE(fs::exists(Package()));
}

TEST_F(UpdateTest, FailuresToHandOverSayUpdateProcessFailedAndTheProgramRunsOn) {
    struct Case {
        const char* name;
        std::string package;
    };
    for (const Case& c : {Case{"package leaves no updater", "#!/bin/sh\npwd > package-ran.txt\n"},
                          Case{"package is no program", "this is not a program"},
                          Case{"updater is no program", "#!/bin/sh\necho text > update.exe\n"}}) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Folder());
        const std::size_t boxes = window_.Calls().size();
        ServePackage(c.package);
        RunUpdate();
        const auto calls = window_.Calls();
        EXPECT_THAT(std::vector<std::string>(calls.begin() + boxes, calls.end()),
                    ElementsAre("ShowMessage|Updates|Update process failed.|OK",
                                "MessageAnswered|Updates"));
        EXPECT_FALSE(fs::exists(Package()));
    }
}

TEST_F(UpdateTest, UpdateFolderThatCannotBeMadeSaysUpdateProcessFailed) {
    std::ofstream(root_ / "tmp" / "corvale_update") << "a file in the way";
    RunUpdate();
    EXPECT_THAT(window_.Calls(), ElementsAre("ShowMessage|Updates|Update process failed.|OK",
                                             "MessageAnswered|Updates"));
    EXPECT_THAT(Targets(), IsEmpty()) << "nothing is downloaded";
}

TEST_F(UpdateTest, UpdateFolderOfOursThatOthersCouldWriteIsClosedToThem) {
    fs::create_directories(Folder());
    ::chmod(Folder().c_str(), 0777);
    ServePackage(kPackage);
    RunUpdate();
    EXPECT_THAT(window_.Calls(), ElementsAre("PostQuitForUpdate"));
    EXPECT_EQ(fs::status(Folder()).permissions() & (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);
}

TEST_F(UpdateTest, UpdateFolderOfSomeoneElseIsNotUsed) {
    fs::create_directories(Folder());
    if (::geteuid() != 0 || ::chown(Folder().c_str(), 65534, 65534) != 0) {
        GTEST_SKIP() << "giving the folder to another user needs root";
    }
    RunUpdate();
    EXPECT_THAT(window_.Calls(), ElementsAre("ShowMessage|Updates|Update process failed.|OK",
                                             "MessageAnswered|Updates"));
    EXPECT_THAT(Targets(), IsEmpty());
}

// ---- the version check ----------------------------------------------------------------------

std::string Question(const std::string& offered) {
    return "ShowMessage|Updates|A new version of Corvale is available:\n\nCorvale " + offered +
           "\n\nWould you like to get now the new version ?|YesNo";
}
const std::string kNoNewVersion = "ShowMessage|Updates|There is no new version available.|OK";
const std::string kSecondQuestion =
    "ShowMessage|Updates|Do you want to automaticaly update to new version ?\n\nIf you choose "
    "\"No\", you will be invited to download it manualy.|YesNo";

struct VersionCase {
    const char* name;
    std::string reply;
    std::optional<std::string> offered; // the version the question shows; none: not newer
    friend void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }
};

class VersionReplies : public UpdateTest, public ::testing::WithParamInterface<VersionCase> {};

// The own version is 0.3.11 build 25; the first question is answered No.
TEST_P(VersionReplies, OfferOnlyANewerVersion) {
    const VersionCase& c = GetParam();
    Reply(c.reply);
    StartClver();
    ASSERT_TRUE(window_.WaitForPrefix("MessageAnswered|"));
    ASSERT_TRUE(WaitForTasksToEnd());
    EXPECT_THAT(window_.Calls(), ElementsAre(c.offered ? Question(*c.offered) : kNoNewVersion,
                                             "MessageAnswered|Updates"));
    EXPECT_THAT(Targets(), ElementsAre("/bin/corvale/cmd.php?action=clver"));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionReplies,
    ::testing::Values(VersionCase{"Equal", "OK 0\n3\n11\n25", std::nullopt},
                      VersionCase{"NewerByBuild", "OK 0\n3\n11\n26", "0.3.11 (build 26)"},
                      VersionCase{"NewerByRelease", "OK 0\n3\n12\n0", "0.3.12 (build 0)"},
                      VersionCase{"NewerByMajor", "OK 1\n0\n0\n0", "1.0.0 (build 0)"},
                      VersionCase{"OlderReleaseWithHigherBuild", "OK 0\n3\n10\n99", std::nullopt},
                      VersionCase{"OlderMinor", "OK 0\n2\n99\n99", std::nullopt},
                      VersionCase{"OKAlone", "OK", std::nullopt},
                      VersionCase{"FewerLines", "OK 0\n3", std::nullopt},
                      VersionCase{"NegativeIsLargest", "OK 0\n3\n-1\n0", "0.3.-1 (build 0)"},
                      VersionCase{"NegativeMajor", "OK -2\n0\n0\n0", "-2.0.0 (build 0)"},
                      VersionCase{"CrLfAndFifthLineIgnored", "OK 0\r\n3\r\n12\r\n30\r\n99\n99",
                                  "0.3.12 (build 30)"},
                      VersionCase{"NonNumericLineIsZero", "OK 0\n3\nnew\n99", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateTest, VersionCheckFailureShowsTheErrorOnly) {
    Reply("ERR -004:Service closed for maintenance");
    StartClver();
    ASSERT_TRUE(WaitForTasksToEnd());
    EXPECT_THAT(window_.Calls(),
                ElementsAre("ShowMessage|Error|-004:Service closed for maintenance|OK",
                            "MessageAnswered|Error"));
}

TEST_F(UpdateTest, VersionLineThatIsNoNumberEndsTheCheckWithoutAQuestion) {
    Reply("OK 0\n3,5\n12\n30");
    StartClver();
    ASSERT_TRUE(TaskErrors::WaitFor("'3,5' is not a valid integer value"));
    ASSERT_TRUE(WaitForTasksToEnd());
    EXPECT_THAT(window_.Calls(), IsEmpty());
}

TEST_F(UpdateTest, NoToTheSecondQuestionOpensTheDownloadPageAndStartsNothing) {
    Reply("OK 0\n3\n12\n30");
    window_.QueueAnswer(TMsgAnswer::Yes);
    window_.QueueAnswer(TMsgAnswer::No);
    StartClver();
    ASSERT_TRUE(window_.WaitForPrefix("OpenUrl|"));
    ASSERT_TRUE(WaitForTasksToEnd());
    EXPECT_THAT(window_.Calls(),
                ElementsAre(Question("0.3.12 (build 30)"), "MessageAnswered|Updates",
                            kSecondQuestion, "MessageAnswered|Updates",
                            "OpenUrl|http://127.0.0.1:" + std::to_string(server_.Port()) +
                                "/tools/corvale/"));
    EXPECT_THAT(Targets(), ElementsAre("/bin/corvale/cmd.php?action=clver"));
    EXPECT_FALSE(fs::exists(Folder()));
}

TEST_F(UpdateTest, YesToBothQuestionsStartsTheUpdate) {
    Reply("OK 0\n3\n12\n30");
    ServePackage(kPackage);
    window_.QueueAnswer(TMsgAnswer::Yes);
    window_.QueueAnswer(TMsgAnswer::Yes);
    StartClver();
    ASSERT_TRUE(window_.WaitForCall("PostQuitForUpdate"));
    ASSERT_TRUE(WaitForTasksToEnd());
    EXPECT_THAT(Targets(), ElementsAre("/bin/corvale/cmd.php?action=clver",
                                       "/bin/corvale/cmd.php?action=dlupdate"));
    EXPECT_EQ(window_.CountPrefix("OpenUrl|"), 0);
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(Folder() / "updater-ran.txt"); }));
}

} // namespace
} // namespace testing_support
