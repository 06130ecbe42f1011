// The running program as a screen reader meets it: its accessibility tree read over AT-SPI
// from outside, with the program checking its address against the reference service.

#include "AccessibilityBus.h"
#include "ProgramFixture.h"
#include "ReferenceService.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempFolder.h"

#include <regex>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TNode = TAccessibilityBus::TNode;

namespace {

const std::string kApplication = "Corvale";

std::optional<TNode> Find(const std::vector<TNode>& tree, const std::string& role,
                          const std::string& name) {
    for (const TNode& node : tree) {
        if (node.Role == role && node.Name == name) {
            return node;
        }
    }
    return std::nullopt;
}

// What a screen reader says for a status panel: its text, or a marker when it is not there.
std::string PanelText(const std::vector<TNode>& tree, const std::string& name) {
    const auto panel = Find(tree, "label", name);
    return panel ? panel->Text : "<no panel named " + name + ">";
}

// Roles a user operates or reads a list from: each needs a name to be told apart.
bool IsControl(const TNode& node) {
    static const std::set<std::string> roles = {
        "push button",   "toggle button",   "check box",  "radio button", "text",
        "password text", "table",           "page tab",   "combo box",    "spin button",
        "menu item",     "check menu item", "status bar", "tool bar",     "image"};
    return roles.count(node.Role) > 0 || node.Has("focusable");
}

// The tree as lines of roles and names, to show in a failure.
std::string Describe(const std::vector<TNode>& tree) {
    std::string text;
    for (const TNode& node : tree) {
        text += std::string(static_cast<std::size_t>(node.Depth) * 2, ' ') + node.Role + " \"" +
                node.Name + "\" " + node.States + "\n";
    }
    return text;
}

// Every control and list of the tree that has no name, one line each.
std::string Unnamed(const std::vector<TNode>& tree) {
    std::string list;
    for (std::size_t i = 0; i < tree.size(); ++i) {
        if (IsControl(tree[i]) && tree[i].Name.empty()) {
            list += "#" + std::to_string(i) + " " + tree[i].Role + " (" + tree[i].States + ")\n";
        }
    }
    return list;
}

class TAccessibilityTest : public TProgramTest {
protected:
    void SetUp() override {
        TProgramTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        const std::string reason = AccessibilityBusSkipReason();
        if (!reason.empty()) {
            GTEST_SKIP() << reason;
        }
        bus = std::make_unique<TAccessibilityBus>(folder);
        ASSERT_EQ(bus->Failure(), "");
    }
    void TearDown() override {
        client.reset(); // before the buses it talks to
        bus.reset();
        TProgramTest::TearDown();
    }

    void StartReadableClient(const std::string& settings) {
        WriteIni(settings);
        auto environment = bus->ClientEnvironment();
        environment.push_back("LC_ALL=C");
        client = StartClient({}, environment, ClientLog().string());
    }
    fs::path ClientLog() const { return folder / "client.log"; }
    // Reads the tree until `condition` holds for it; the last tree read either way. A program
    // that has ended is a failure that says why, at once: its tree will never come.
    template <typename Condition> std::vector<TNode> TreeWhen(Condition condition) {
        std::vector<TNode> tree;
        Eventually(
            [&] {
                tree = bus->Tree(kApplication);
                return condition(tree) || !client->Running();
            },
            20s);
        EXPECT_TRUE(client->Running()) << "the program ended:\n"
                                       << testing_support::ReadText(ClientLog());
        return tree;
    }
    bool Press(const std::string& role, const std::string& name) {
        return bus->Press(kApplication, role, name);
    }

    std::unique_ptr<TAccessibilityBus> bus;
    std::unique_ptr<ChildProcess> client;
};

std::string ServiceSettings(const TReferenceService& service) {
    return "service=127.0.0.1:" + std::to_string(service.Port) +
           "\nid=demo\npassword=" + service.StoredPassword + "\nstart_hidden=0\n";
}

// Another account that reports a host and shows it to "demo": demo's one buddy.
void AddBuddyOfDemo(TReferenceService& service) {
    const std::string login = "id=ann&pswd=" + service.AddAccount("ann", "ann-password");
    ASSERT_EQ(service.Ask("action=setip&" + login + "&host=annpc&ip=10.0.0.7").rfind("OK", 0), 0u);
    const std::string hosts = service.Ask("action=gethostlist&" + login);
    ASSERT_EQ(hosts.rfind("OK ", 0), 0u) << hosts;
    const std::string number = hosts.substr(3, hosts.find(',') - 3);
    ASSERT_EQ(service.Ask("action=invite&" + login + "&invid=demo&hl=" + number).rfind("OK", 0),
              0u);
}

TEST_F(TAccessibilityTest, TheStatusPanelsReadWhatTheyShow) {
    TReferenceService service(folder);
    ASSERT_GT(service.Port, 0);
    ASSERT_NO_FATAL_FAILURE(AddBuddyOfDemo(service));
    StartReadableClient(ServiceSettings(service));

    auto tree = TreeWhen([](const auto& t) {
        return PanelText(t, "Current address") != "" && PanelText(t, "Current address")[0] != '<';
    });
    ASSERT_TRUE(Find(tree, "status bar", "Address status")) << Describe(tree);
    EXPECT_EQ(PanelText(tree, "Current address"), "127.0.0.1");
    const std::string checked = PanelText(tree, "Last check time");
    EXPECT_TRUE(
        std::regex_match(checked, std::regex("[A-Z][a-z]{2} \\d{2} \\d{4} \\d{2}:\\d{2}:\\d{2}")))
        << checked;
    EXPECT_EQ(PanelText(tree, "IP"), "IP");
    EXPECT_EQ(PanelText(tree, "Last Check"), "Last Check");
    EXPECT_EQ(PanelText(tree, "Checking"), "Active");

    // Switched off through the tree, as a screen reader user does it; a screen reader that
    // keeps the panel's text hears of the change.
    const fs::path heard = folder / "text-changes.log";
    auto watcher = bus->WatchTextChanges(30, heard.string());
    ASSERT_TRUE(
        Eventually([&] { return testing_support::ReadText(heard).rfind("listening\n", 0) == 0; }));
    std::this_thread::sleep_for(500ms); // the program learns of the new listener on the bus
    ASSERT_TRUE(Press("check box", "Active"));
    tree = TreeWhen([](const auto& t) { return PanelText(t, "Checking") == "Inactive"; });
    EXPECT_EQ(PanelText(tree, "Checking"), "Inactive");
    EXPECT_TRUE(Eventually([&] {
        const std::string log = testing_support::ReadText(heard);
        return log.find("object:text-changed:delete\tChecking\tActive\tlabel\n") !=
                   std::string::npos &&
               log.find("object:text-changed:insert\tChecking\tInactive\tlabel\n") !=
                   std::string::npos;
    })) << testing_support::ReadText(heard);

    ASSERT_TRUE(Press("page tab", "Contacts"));
    ASSERT_TRUE(Press("push button", "Get Buddy List"));
    tree = TreeWhen([](const auto& t) { return PanelText(t, "Buddy count") == "1"; });
    ASSERT_TRUE(Find(tree, "status bar", "Buddy list status")) << "no status bar of the buddies";
    EXPECT_EQ(PanelText(tree, "Buddy count"), "1");
    EXPECT_EQ(PanelText(tree, "Total"), "Total");
    EXPECT_EQ(PanelText(tree, "Buddy list state"), "OK");
}

TEST_F(TAccessibilityTest, EveryControlListAndPanelHasAName) {
    TReferenceService service(folder);
    ASSERT_GT(service.Port, 0);
    StartReadableClient(ServiceSettings(service));
    // Once the check has added its row, the history list has cells too.
    auto tree =
        TreeWhen([](const auto& t) { return Find(t, "table cell", "127.0.0.1").has_value(); });
    ASSERT_FALSE(tree.empty()) << "the program's tree is not on the accessibility bus";
    EXPECT_EQ(Unnamed(tree), "");
    // The names a user hears for the controls whose caption is not on them.
    const std::pair<const char*, const char*> expected[] = {{"table", "Address history"},
                                                            {"table", "Buddy list"},
                                                            {"text", "ID"},
                                                            {"password text", "Password"},
                                                            {"text", "Check interval"},
                                                            {"status bar", "Address status"},
                                                            {"status bar", "Buddy list status"},
                                                            {"panel", "Corvale ID"},
                                                            {"panel", "Login"},
                                                            {"page tab", "Options"}};
    for (const auto& [role, name] : expected) {
        EXPECT_TRUE(Find(tree, role, name)) << "no " << role << " named \"" << name << '"';
    }

    // The invite dialog, opened from the tree; it holds the action's answer while it is open.
    ASSERT_TRUE(Press("page tab", "Contacts"));
    ASSERT_TRUE(Press("push button", "Invite"));
    tree = TreeWhen([](const auto& t) { return Find(t, "text", "Your Buddy's ID").has_value(); });
    EXPECT_TRUE(Find(tree, "dialog", "Invite User"));
    EXPECT_TRUE(Find(tree, "text", "Your Buddy's ID"));
    EXPECT_TRUE(Find(tree, "table", "Visible hosts"));
    EXPECT_EQ(Unnamed(tree), "");
}

TEST_F(TAccessibilityTest, AnErrorBoxReadsItsMessage) {
    testing_support::LoopbackServer failing;
    failing.SetFallback(testing_support::ScriptedReply::Http("ERR Something went wrong"));
    StartReadableClient("service=127.0.0.1:" + std::to_string(failing.Port()) +
                        "\nstart_hidden=0\n");
    const auto tree = TreeWhen([](const auto& t) { return Find(t, "alert", "Error").has_value(); });
    EXPECT_TRUE(Find(tree, "alert", "Error"));
    EXPECT_TRUE(Find(tree, "label", "Something went wrong"));
    EXPECT_TRUE(Find(tree, "push button", "OK"));
    EXPECT_EQ(Unnamed(tree), "");
}

} // namespace
