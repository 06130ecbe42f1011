// The whole program and the reference service in a network namespace of the test's own, with
// an interface whose addresses the test adds, changes and removes: a change, or a burst of
// them, brings one address check at the service once the network has settled; none while
// checking is off.

#include "AccessibilityBus.h"
#include "NetworkNamespace.h"
#include "ProgramFixture.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The client's rule: a settle time after the first change and up to a second of jitter.
constexpr auto kSettle = 2s;
constexpr auto kSettleAndJitter = 3s;

struct TChangeCase {
    const char* Name;
    std::vector<std::string> Commands; // run one after another, at once
    bool SwitchedOff;                  // _Active is unchecked before the changes
    int Checks;                        // address checks the changes bring
};

class TNetworkChangeTest : public TProgramTest, public ::testing::WithParamInterface<TChangeCase> {
protected:
    void SetUp() override {
        TProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        const std::string reason = NetworkNamespaceSkipReason();
        if (!reason.empty()) {
            GTEST_SKIP() << reason;
        }
        space = std::make_unique<TNetworkNamespace>(folder);
        ASSERT_EQ(space->Failure(), "");
        // An interface pair without IPv6, whose link-local addresses would come and change at
        // a time of their own, made before the client watches.
        ASSERT_TRUE(space->Run("echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6 && "
                               "ip link add corvale0 type veth peer name corvale1 && "
                               "ip link set corvale1 up && ip link set corvale0 up"));
        // The client reaches the X server through its socket in the file system, which every
        // network namespace sees; the copy of the program starts in the namespace.
        const fs::path inNamespace = folder / "corvale-in-namespace";
        std::ofstream(inNamespace) << "#!/bin/sh\nexec " << space->EnterCommand() << ' '
                                   << program.string() << " \"$@\"\n";
        fs::permissions(inNamespace, fs::perms::owner_all);
        program = inNamespace;
    }
    void TearDown() override {
        if (client) {
            client->Stop();
        }
        client.reset();
        bus.reset();
        service.reset();
        space.reset();
        TProgramTest::TearDown();
    }

    // The service's address checks so far.
    int Checks() const {
        const std::string log = testing_support::ReadText(service->Log());
        int count = 0;
        for (auto at = log.find("action=getip"); at != std::string::npos;
             at = log.find("action=getip", at + 1)) {
            ++count;
        }
        return count;
    }

    std::unique_ptr<TNetworkNamespace> space;
    std::unique_ptr<TNamespaceService> service;
    std::unique_ptr<TAccessibilityBus> bus;
    std::unique_ptr<ChildProcess> client;
};

TEST_P(TNetworkChangeTest, ChangesOfTheAddressBringOneCheck) {
    const TChangeCase& testCase = GetParam();
    service = std::make_unique<TNamespaceService>(*space, folder);
    ASSERT_GT(service->Port, 0) << testing_support::ReadText(service->Log());

    std::vector<std::string> environment{"LC_ALL=C"};
    if (testCase.SwitchedOff) {
        const std::string reason = AccessibilityBusSkipReason();
        if (!reason.empty()) {
            GTEST_SKIP() << "checking cannot be switched off from outside: " << reason;
        }
        bus = std::make_unique<TAccessibilityBus>(folder);
        ASSERT_EQ(bus->Failure(), "");
        const auto more = bus->ClientEnvironment();
        environment.insert(environment.end(), more.begin(), more.end());
    }
    // A long interval: no check of the timer comes during the test.
    WriteIni("service=127.0.0.1:" + std::to_string(service->Port) + "\nid=demo\npassword=" +
             service->StoredPassword + "\ncheck_interval=3600\nstart_hidden=0\n");
    const fs::path clientLog = folder / "client.log";
    client = StartClient({}, environment, clientLog.string());
    ASSERT_TRUE(Eventually([&] { return Checks() >= 1 || !client->Running(); }, 30s))
        << "no first check:\n"
        << testing_support::ReadText(clientLog);
    ASSERT_TRUE(client->Running()) << testing_support::ReadText(clientLog);
    EXPECT_EQ(testing_support::ReadText(clientLog).find("network changes are not watched"),
              std::string::npos)
        << testing_support::ReadText(clientLog);

    if (testCase.SwitchedOff) {
        ASSERT_TRUE(Eventually([&] { return bus->Press("Corvale", "check box", "Active"); }, 30s))
            << "no Active button on the accessibility bus";
        ASSERT_TRUE(Eventually([&] {
            for (const auto& node : bus->Tree("Corvale")) {
                if (node.Role == "label" && node.Name == "Checking" && node.Text == "Inactive") {
                    return true;
                }
            }
            return false;
        }));
    }
    std::this_thread::sleep_for(500ms); // the first check's report and the window settle
    const int before = Checks();

    const auto changed = std::chrono::steady_clock::now();
    for (const std::string& command : testCase.Commands) {
        ASSERT_TRUE(space->Run(command)) << command;
    }
    if (testCase.Checks > 0) {
        ASSERT_TRUE(Eventually([&] { return Checks() > before; }, kSettleAndJitter + 12s))
            << "no check after the change:\n"
            << testing_support::ReadText(clientLog);
        // Seen by polling, so the check came no later than this; never before the settle time.
        EXPECT_GE(std::chrono::steady_clock::now() - changed, kSettle - 100ms);
    }
    // Whatever was to come has come by now.
    std::this_thread::sleep_for(kSettleAndJitter + 3s);
    EXPECT_EQ(Checks() - before, testCase.Checks) << testing_support::ReadText(service->Log());
    EXPECT_TRUE(client->Running()) << testing_support::ReadText(clientLog);
}

// Ten changes of addresses and default routes, each one valid after those before it.
std::vector<std::string> BurstOfTen() {
    return {"ip addr add 10.1.2.3/24 dev corvale0",  "ip addr add 10.1.3.3/24 dev corvale0",
            "ip route add default via 10.1.2.1",     "ip route replace default via 10.1.3.1",
            "ip addr add 192.0.2.9/32 dev corvale0", "ip addr del 10.1.2.3/24 dev corvale0",
            "ip addr add 10.1.4.3/24 dev corvale0",  "ip route del default",
            "ip addr del 192.0.2.9/32 dev corvale0", "ip addr del 10.1.3.3/24 dev corvale0"};
}

void PrintTo(const TChangeCase& testCase, std::ostream* out) {
    *out << testCase.Name;
}

INSTANTIATE_TEST_SUITE_P(
    AddressChanges, TNetworkChangeTest,
    ::testing::Values(
        TChangeCase{"AnAddressAdded", {"ip addr add 10.1.2.3/24 dev corvale0"}, false, 1},
        TChangeCase{"AnAddressReplaced",
                    {"ip addr add 10.1.2.3/24 dev corvale0",
                     "ip addr del 10.1.2.3/24 dev corvale0 && ip addr add 10.1.2.8/24 dev "
                     "corvale0"},
                    false,
                    1},
        TChangeCase{"ABurstOfTenChanges", BurstOfTen(), false, 1},
        TChangeCase{"CheckingSwitchedOff", {"ip addr add 10.1.2.3/24 dev corvale0"}, true, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
