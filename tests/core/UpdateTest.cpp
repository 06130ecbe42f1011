// The version check and the self-update, run for real in a temporary folder.

#include "core/uTasks.h"
#include "core/uTasksUpdate.h"
#include "tests/core/TaskFixture.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/SigningKeys.h"
#include "tests/support/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testing_support {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr TVersion kOffered{0, 3, 12, 30}; // the own version is 0.3.11 build 25
const std::string kOfferedComment = "corvale-update version=0.3.12.30";
const std::string kNotVerified =
    "ShowMessage|Updates|The update could not be verified and was not installed.\n\nReason: ";

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
    // The keys are made before a test points TMPDIR into a folder of its own that goes.
    static void SetUpTestSuite() { Keys(); }
    void SetUp() override {
        fs::create_directories(root_ / "tmp");
        fs::create_directories(root_ / "my app");
        TaskTest::SetUp();
        Cfg.AppPath = (root_ / "my app").string() + "/";
        TServiceEndpoint endpoint = ServiceEndpoint();
        endpoint.UpdateKeys = Keys().KeyLine("operator");
        SetServiceEndpoint(endpoint);
    }
    void TearDown() override {
        TaskTest::TearDown(); // every task has ended before the folder goes
    }

    fs::path Folder() const { return root_ / "tmp" / "corvale_update"; }
    fs::path Package() const { return Folder() / "cvlupf.exe"; }
    // The signature of the offered version made with the trusted key, then the package.
    void ServePackage(const std::string& script) {
        Reply(Keys().Sign(script, kOfferedComment));
        Reply(script);
    }
    void RunUpdate(const TVersion& offered = kOffered) {
        StartTask(NewDlupdateTask(offered));
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

    EXPECT_THAT(Targets(), ElementsAre("/bin/corvale/cmd.php?action=dlupdatesig",
                                       "/bin/corvale/cmd.php?action=dlupdate"));
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
    Reply(Keys().Sign("#!/bin/sh\necho half and more\n", kOfferedComment));
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
    Reply(Keys().Sign("#!/bin/sh\npwd > package-ran.txt\nexit 0\n", kOfferedComment));
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
    std::string whole = kPackage;
    for (std::size_t i = 0; i < 40; ++i) {
        whole += skippedByTheShell;
    }
    Reply(Keys().Sign(whole, kOfferedComment));
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
    Reply(Keys().Sign(kPackage, kOfferedComment));
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

// ---- the signature ----------------------------------------------------------------------

const std::string kSigTarget = "/bin/corvale/cmd.php?action=dlupdatesig";
const std::string kPackageTarget = "/bin/corvale/cmd.php?action=dlupdate";

// A signature whose trusted comment was edited after signing.
std::string WithComment(std::string signature, const std::string& comment) {
    const auto start = signature.find("\ntrusted comment: ") + 18;
    return signature.replace(start, signature.find('\n', start) - start, comment);
}

struct RefusalCase {
    const char* name;
    // The signature reply; empty: the package's own signature by the trusted key.
    std::function<ScriptedReply()> signatureReply;
    std::string reason;  // a part of the reason the box gives
    bool fetchesPackage; // the package is downloaded before the refusal
    std::string served = kPackage + "pwd > package-ran.txt\n"; // the package the service sends
    TVersion offered = kOffered;
    friend void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }
};

ScriptedReply SignatureOf(const std::string& bytes, const std::string& comment = kOfferedComment,
                          const std::string& key = "operator", const std::string& extra = "") {
    return ScriptedReply::Http(Keys().Sign(bytes, comment, key, extra));
}

const std::string kRanPackage = kPackage + "pwd > package-ran.txt\n";

std::vector<RefusalCase> RefusalCases() {
    std::string tampered = kRanPackage;
    tampered[12] = static_cast<char>(tampered[12] ^ 1);
    const auto overTheCap = [] {
        ScriptedReply reply = SignatureOf(kRanPackage);
        reply.fillerBytes = 1024 * 1024; // the reply cap of the memory destination
        return reply;
    };
    ScriptedReply notFound;
    notFound.chunks = {"HTTP/1.0 404 Not Found\r\n\r\n"};
    return {
        {"Unsigned", [=] { return notFound; }, "the signature file is malformed", false},
        {"ServiceAnswersWithAnError",
         [] { return ScriptedReply::Http("ERR -004:Service closed for maintenance"); },
         "the signature file is malformed", false},
        {"MalformedSignatureFile",
         [] { return ScriptedReply::Http("untrusted comment: x\nnot base64 at all\n"); },
         "the signature file is malformed", false},
        {"SignatureReplyOverTheCap", overTheCap, "the service sent no signature", false},
        {"LegacyForm", [] { return SignatureOf(kRanPackage, kOfferedComment, "operator", "-l"); },
         "legacy", false},
        {"TamperedByOneByte", [] { return SignatureOf(kRanPackage); },
         "the signature does not match the package", true, tampered},
        {"SignatureOfAnotherFile", [] { return SignatureOf("#!/bin/sh\necho another\n"); },
         "the signature does not match the package", true},
        {"UnknownKey", [] { return SignatureOf(kRanPackage, kOfferedComment, "stranger"); },
         "signed by the unknown key", true},
        {"CommentEditedToTheOfferedVersion",
         [] {
             return ScriptedReply::Http(WithComment(
                 Keys().Sign(kRanPackage, "corvale-update version=0.3.12.29"), kOfferedComment));
         },
         "the trusted comment is not signed", true},
        {"VersionOtherThanOffered",
         [] { return SignatureOf(kRanPackage, "corvale-update version=0.3.12.31"); },
         "for version 0.3.12.31, not for the version offered", false},
        {"NoVersionNamed", [] { return SignatureOf(kRanPackage, "corvale-update"); },
         "names no version", false},
        {"OlderVersionReplayed",
         [] { return SignatureOf(kRanPackage, "corvale-update version=0.3.10.99"); },
         "is not newer than this one", false, kRanPackage, TVersion{0, 3, 10, 99}},
        {"OwnVersionReplayed",
         [] { return SignatureOf(kRanPackage, "corvale-update version=0.3.11.25"); },
         "is not newer than this one", false, kRanPackage, TVersion{0, 3, 11, 25}},
    };
}

class Refusals : public UpdateTest, public ::testing::WithParamInterface<RefusalCase> {};

// Nothing runs, no package is left, the box says why and the program runs on.
TEST_P(Refusals, LeaveNoPackageRunNothingAndSayWhy) {
    const RefusalCase& c = GetParam();
    server_.Enqueue(c.signatureReply());
    Reply(c.served);
    RunUpdate(c.offered);

    const auto calls = window_.Calls();
    ASSERT_THAT(calls, ElementsAre(StartsWith(kNotVerified), "MessageAnswered|Updates"));
    EXPECT_THAT(calls[0], HasSubstr(c.reason));
    EXPECT_THAT(calls[0], testing::EndsWith(".|OK"));
    EXPECT_FALSE(fs::exists(Package()));
    EXPECT_FALSE(fs::exists(Folder() / "package-ran.txt"));
    if (c.fetchesPackage) {
        EXPECT_THAT(Targets(), ElementsAre(kSigTarget, kPackageTarget));
    } else {
        EXPECT_THAT(Targets(), ElementsAre(kSigTarget)) << "no package for a useless signature";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Refusals, ::testing::ValuesIn(RefusalCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateTest, AKeyAmongSeveralConfiguredIsHonoured) {
    TServiceEndpoint endpoint = ServiceEndpoint();
    endpoint.UpdateKeys = Keys().KeyLine("stranger") + ", " + Keys().KeyLine("operator");
    SetServiceEndpoint(endpoint);
    ServePackage(kPackage);
    RunUpdate();
    EXPECT_THAT(window_.Calls(), ElementsAre("PostQuitForUpdate"));
}

TEST_F(UpdateTest, WithoutTheConfiguredKeyTheSamePackageIsRefused) {
    TServiceEndpoint endpoint = ServiceEndpoint();
    endpoint.UpdateKeys.clear();
    SetServiceEndpoint(endpoint);
    ServePackage(kPackage + "pwd > package-ran.txt\n");
    RunUpdate();
    EXPECT_THAT(window_.Calls(), ElementsAre(StartsWith(kNotVerified + "signed by the unknown key"),
                                             "MessageAnswered|Updates"));
    EXPECT_FALSE(fs::exists(Folder() / "package-ran.txt"));
}

TEST(UpdateKeys, TheBuiltInKeyIsTheReleaseKeyFileAndComesFirst) {
    const std::string file = ReadFile(CORVALE_UPDATE_KEY_FILE);
    EXPECT_THAT(file, HasSubstr("\n" + BuiltInUpdateKey() + "\n"));
    const auto builtIn = TrustedUpdateKeys("");
    ASSERT_EQ(builtIn.size(), 1u) << "the built-in key must be a valid public key";
    const auto configured = TrustedUpdateKeys(" " + Keys().KeyLine("operator") + ",not-a-key\t" +
                                              Keys().KeyLine("stranger") + ",,");
    ASSERT_EQ(configured.size(), 3u) << "a text that is no key is left out";
    EXPECT_EQ(configured[0].Key, builtIn[0].Key);
    EXPECT_NE(configured[1].Key, configured[2].Key);
}

TEST(UpdateVersions, TextAndBack) {
    EXPECT_EQ(VersionText({0, 3, 12, 30}), "0.3.12.30");
    EXPECT_EQ(ParseVersionText("0.3.12.30"), (TVersion{0, 3, 12, 30}));
    EXPECT_EQ(ParseVersionText("0.3.-1.0"), (TVersion{0, 3, -1, 0}));
    for (const char* bad : {"", "0.3.12", "0.3.12.30.1", "0.3.12.30 ", "0..12.30", "0.3.12.x",
                            "v0.3.12.30", "0.3.12.99999999999"}) {
        EXPECT_EQ(ParseVersionText(bad), std::nullopt) << bad;
    }
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
                                       "/bin/corvale/cmd.php?action=dlupdatesig",
                                       "/bin/corvale/cmd.php?action=dlupdate"));
    EXPECT_EQ(window_.CountPrefix("OpenUrl|"), 0);
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(Folder() / "updater-ran.txt"); }));
}

// ---- the package build -----------------------------------------------------------------

class PackageBuild : public UpdateTest {
protected:
    void SetUp() override {
        UpdateTest::SetUp();
        SetSelfUpdateForTests(false);
    }
    void TearDown() override {
        UpdateTest::TearDown();
        SetSelfUpdateForTests(SelfUpdateBuilt());
    }
};

TEST_F(PackageBuild, ANewerVersionIsLeftToThePackageManagerAndNothingIsDownloaded) {
    Reply("OK 0\n3\n12\n30");
    ServePackage(kPackage);
    window_.QueueAnswer(TMsgAnswer::Yes);
    StartClver();
    ASSERT_TRUE(window_.WaitForPrefix("MessageAnswered|"));
    ASSERT_TRUE(WaitForTasksToEnd());
    EXPECT_THAT(window_.Calls(),
                ElementsAre("ShowMessage|Updates|A new version of Corvale is available:\n\nCorvale "
                            "0.3.12 (build 30)\n\nThis copy was installed with the system's "
                            "package manager: install the new version with it (for example with "
                            "\"apt upgrade\").|OK",
                            "MessageAnswered|Updates"));
    EXPECT_THAT(Targets(), ElementsAre("/bin/corvale/cmd.php?action=clver"));
    EXPECT_FALSE(fs::exists(Folder()));
}

TEST_F(PackageBuild, NoNewerVersionIsSaidAsBeforeAndAnUpdateTaskDoesNothing) {
    Reply("OK 0\n3\n11\n25");
    StartClver();
    ASSERT_TRUE(window_.WaitForPrefix("MessageAnswered|"));
    ASSERT_TRUE(WaitForTasksToEnd());
    EXPECT_THAT(window_.Calls(), ElementsAre(kNoNewVersion, "MessageAnswered|Updates"));
    RunUpdate();
    EXPECT_THAT(Targets(), ElementsAre("/bin/corvale/cmd.php?action=clver"));
    EXPECT_FALSE(fs::exists(Folder()));
}

} // namespace
} // namespace testing_support
