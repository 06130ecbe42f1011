#include "server/AdminCommands.h"

#include "tests/server/RunningServer.h"
#include "tests/server/TestEngines.h"
#include "tests/support/SigningKeys.h"
#include "util/uBase64.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace server;

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

using testing_support::EngineKind;
using testing_support::OpenForTests;

// Each case against each engine.
class AdminCommands : public ::testing::TestWithParam<EngineKind> {
protected:
    static void SetUpTestSuite() {
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    void SetUp() override {
        if (const auto missing = testing_support::EngineMissingReason(GetParam());
            !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        database = testing_support::NewDatabase(GetParam(), folder);
    }

    Outcome Run(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), {"--db", database});
        const auto parsed = ParseCommandLine(args);
        EXPECT_TRUE(parsed) << parsed.Failure().Message;
        std::istringstream in(input);
        std::ostringstream out, err;
        const int code = RunAdminCommand(*parsed, ProductVersion{0, 3, 11, 25}, in, out, err);
        return {code, out.str(), err.str()};
    }

    testing_support::TempFolder folder;
    std::string database;
};

TEST_P(AdminCommands, AddAccountFromArgumentOrStandardInput) {
    EXPECT_EQ(Run({"add-account", "jdoe", "secret"}).code, kExitOk);
    EXPECT_EQ(Run({"add-account", "amy"}, "p+ss\r\nignored\n").code, kExitOk);

    const auto engine = OpenForTests(database);
    StorageEngine& storage = *engine;
    EXPECT_TRUE(storage.Authenticate("jdoe", ScramblePassword("secret")).Value());
    EXPECT_TRUE(storage.Authenticate("amy", ScramblePassword("p+ss")).Value())
        << "the line end is not part of the password";
}

TEST_P(AdminCommands, AccountMistakesHaveTheirOwnExitCodes) {
    ASSERT_EQ(Run({"add-account", "jdoe", "secret"}).code, kExitOk);
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{"add-account", "JDOE", "other"}, kExitAccountExists},
        {{"add-account", "bad id", "pw"}, kExitUsage},
        {{"add-account", "x"}, kExitUsage}, // no password on the input
        {{"add-account"}, kExitUsage},
        {{"add-account", "a", "b", "c"}, kExitUsage},
        {{"set-password", "nobody", "pw"}, kExitNoSuchAccount},
        {{"delete-account", "nobody"}, kExitNoSuchAccount},
        {{"list-hosts", "nobody"}, kExitNoSuchAccount},
        {{"set-version", "1.2"}, kExitUsage},
        {{"set-package", folder / "missing.exe"}, kExitFailure},
        {{"launch-rockets"}, kExitUsage},
        {{"stored-password", "a", "b"}, kExitUsage},
    };
    for (const auto& [args, code] : cases) {
        const Outcome outcome = Run(args);
        EXPECT_EQ(outcome.code, code) << args[0];
        EXPECT_FALSE(outcome.err.empty()) << args[0] << ": says nothing";
    }
    const auto engine = OpenForTests(database);
    StorageEngine& storage = *engine;
    EXPECT_TRUE(storage.Authenticate("jdoe", ScramblePassword("secret")).Value()) << "unchanged";
}

TEST_P(AdminCommands, PasswordChangeAndDeletion) {
    ASSERT_EQ(Run({"add-account", "jdoe", "secret"}).code, kExitOk);
    EXPECT_EQ(Run({"set-password", "jdoe"}, "n3w\n").code, kExitOk);
    {
        const auto engine = OpenForTests(database);
        StorageEngine& storage = *engine;
        EXPECT_FALSE(storage.Authenticate("jdoe", ScramblePassword("secret")).Value());
        EXPECT_TRUE(storage.Authenticate("jdoe", ScramblePassword("n3w")).Value());
        const auto account = storage.FindAccount("jdoe").Value();
        ASSERT_TRUE(storage.RecordAddress(*account, "PC", "192.0.2.7", 0, "").Value());
    }
    EXPECT_EQ(Run({"delete-account", "jdoe"}).code, kExitOk);
    const auto engine = OpenForTests(database);
    StorageEngine& storage = *engine;
    EXPECT_FALSE(storage.FindAccount("jdoe").Value());
    EXPECT_TRUE(storage.AllHosts().Value().empty()) << "its hosts go with it";
}

TEST_P(AdminCommands, ListsAreTabSeparatedLines) {
    ASSERT_EQ(Run({"add-account", "jdoe", "secret"}).code, kExitOk);
    ASSERT_EQ(Run({"add-account", "amy", "pw"}).code, kExitOk);
    {
        const auto engine = OpenForTests(database);
        StorageEngine& storage = *engine;
        ASSERT_TRUE(storage
                        .RecordAddress(*storage.FindAccount("jdoe").Value(), "OFFICE", "192.0.2.7",
                                       1794405909, "0.3.11.25")
                        .Value());
        ASSERT_TRUE(
            storage
                .RecordAddress(*storage.FindAccount("jdoe").Value(), "LAPTOP", "", 1794405909, "")
                .Value());
    }
    const Outcome accounts = Run({"list-accounts"});
    EXPECT_EQ(accounts.code, kExitOk);
    ASSERT_EQ(std::count(accounts.out.begin(), accounts.out.end(), '\n'), 2);
    EXPECT_EQ(accounts.out.rfind("amy\t0\t", 0), 0u) << accounts.out;
    EXPECT_NE(accounts.out.find("\njdoe\t2\t"), std::string::npos) << accounts.out;

    const std::string office = "jdoe\t1\tOFFICE\t192.0.2.7\t2026-11-11 14:05:09\t0.3.11.25\n";
    const std::string laptop = "jdoe\t2\tLAPTOP\t\t2026-11-11 14:05:09\t\n";
    EXPECT_EQ(Run({"list-hosts"}).out, office + laptop);
    EXPECT_EQ(Run({"list-hosts", "jdoe"}).out, office + laptop);
    EXPECT_EQ(Run({"list-hosts", "amy"}).out, "");
}

TEST_P(AdminCommands, OfferedVersionAndSignedPackage) {
    EXPECT_EQ(Run({"show-offer"}).out, "version\t0.3.11.25\npackage\tnone\nsignature\tnone\n");

    const std::string packageFile = folder / "cvlupf.exe";
    const std::string package("MZ\0\1\2", 5);
    std::ofstream(packageFile, std::ios::binary) << package;
    const std::string signature =
        testing_support::Keys().Sign(package, "corvale-update version=0.3.12.30");
    std::ofstream(packageFile + ".minisig", std::ios::binary) << signature;
    EXPECT_EQ(Run({"set-package", packageFile}).code, kExitOk);
    EXPECT_EQ(Run({"set-version", "0.3.12.30"}).code, kExitOk);
    EXPECT_EQ(Run({"show-offer"}).out, "version\t0.3.12.30\npackage\t5 bytes\nkey ID\t" +
                                           testing_support::Keys().KeyId("operator") +
                                           "\ntrusted comment\tcorvale-update version=0.3.12.30\n");
    EXPECT_EQ(OpenForTests(database)->Package().Value(), package);
    EXPECT_EQ(OpenForTests(database)->PackageSignature().Value(), signature);

    EXPECT_EQ(Run({"clear-package"}).code, kExitOk);
    EXPECT_EQ(Run({"set-version", "default"}).code, kExitOk);
    EXPECT_EQ(Run({"show-offer"}).out, "version\t0.3.11.25\npackage\tnone\nsignature\tnone\n");
    EXPECT_EQ(OpenForTests(database)->PackageSignature().Value(), std::nullopt);
}

TEST_P(AdminCommands, SignatureNamedOnTheCommandLineIsStored) {
    const std::string packageFile = folder / "cvlupf.exe";
    std::ofstream(packageFile, std::ios::binary) << "package";
    const std::string signatureFile = folder / "elsewhere.sig";
    const std::string signature =
        testing_support::Keys().Sign("package", "corvale-update version=0.3.12.30", "stranger");
    std::ofstream(signatureFile, std::ios::binary) << signature;
    const Outcome outcome = Run({"set-package", packageFile, "--signature", signatureFile});
    EXPECT_EQ(outcome.code, kExitOk) << outcome.err;
    EXPECT_EQ(OpenForTests(database)->PackageSignature().Value(), signature);
}

// A package is never stored without a signature file a client could check.
TEST_P(AdminCommands, PackageWithoutAValidSignatureIsRefusedAndNothingIsStored) {
    const std::string packageFile = folder / "cvlupf.exe";
    std::ofstream(packageFile, std::ios::binary) << "package";
    const std::string good = testing_support::Keys().Sign("package", "corvale-update version=1");
    struct Case {
        const char* name;
        std::optional<std::string> signature; // the text of cvlupf.exe.minisig; none: missing
        std::string errorPart;
    };
    for (const Case& c : {
             Case{"missing", std::nullopt, "cannot read the signature"},
             Case{"empty", "", "no valid signature file"},
             Case{"not a signature", "untrusted comment: x\nhello\n", "no valid signature file"},
             Case{"legacy form",
                  testing_support::Keys().Sign("package", "corvale-update version=1", "operator",
                                               "-l"),
                  "legacy"},
             Case{"too large", good + std::string(70 * 1024, '\n'), "too large"},
         }) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(packageFile + ".minisig");
        if (c.signature) {
            std::ofstream(packageFile + ".minisig", std::ios::binary) << *c.signature;
        }
        const Outcome outcome = Run({"set-package", packageFile});
        EXPECT_EQ(outcome.code, kExitFailure);
        EXPECT_NE(outcome.err.find(c.errorPart), std::string::npos) << outcome.err;
        EXPECT_EQ(OpenForTests(database)->Package().Value(), std::nullopt);
    }
}

TEST_P(AdminCommands, StoredPasswordIsTheClientsScrambledForm) {
    const Outcome outcome = Run({"stored-password", "abc"});
    EXPECT_EQ(outcome.code, kExitOk);
    EXPECT_EQ(outcome.out, "UU9qT3doRVNhdTFWRnFEUQ==\n");
    EXPECT_EQ(Run({"stored-password"}, "abc\n").out, "UU9qT3doRVNhdTFWRnFEUQ==\n");
}

TEST_P(AdminCommands, UnusableDatabaseFails) {
    database = GetParam() == EngineKind::Sqlite
                   ? folder / "no/such/folder/admin.db"
                   : testing_support::SharedPostgres().Uri("no_such_database");
    const Outcome outcome = Run({"list-accounts"});
    EXPECT_EQ(outcome.code, kExitFailure);
    EXPECT_NE(outcome.err.find(GetParam() == EngineKind::Sqlite ? "cannot open" : "cannot connect"),
              std::string::npos)
        << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(Engines, AdminCommands, testing_support::kEveryEngine,
                         testing_support::EngineName);

} // namespace
