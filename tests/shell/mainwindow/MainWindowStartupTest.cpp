// Creating the main window: the start-up sequence, the first show, and errors on the way.

#include "core/uCfg.h"
#include "mainwindow/MainWindowFixture.h"
#include "shell/mainwindow/StatusPanels.h"
#include "support/FormAccess.h"
#include "support/TextRoom.h"
#include "tests/support/QtWait.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <fstream>
#include <sys/mount.h>
#include <unistd.h>

using testing_support::RunEventsFor;
using testing_support::WaitFor;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using TMainWindowStartupTest = TMainWindowTest;

// A folder nobody may write while this lives, root included: a read-only bind mount of the
// folder on itself where the test may mount (it runs as root), else its permissions.
class TReadOnlyFolder {
public:
    explicit TReadOnlyFolder(const fs::path& folder) : folder_(folder) {
        const char* path = folder_.c_str();
        if (::mount(path, path, nullptr, MS_BIND, nullptr) == 0) {
            mounted_ = true;
            held_ = ::mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        } else if (geteuid() != 0) {
            fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
            held_ = true;
        }
    }
    ~TReadOnlyFolder() {
        if (mounted_) {
            ::umount2(folder_.c_str(), MNT_DETACH);
        } else if (held_) {
            fs::permissions(folder_, fs::perms::owner_all);
        }
    }
    TReadOnlyFolder(const TReadOnlyFolder&) = delete;
    TReadOnlyFolder& operator=(const TReadOnlyFolder&) = delete;
    bool Held() const { return held_; }

private:
    fs::path folder_;
    bool mounted_ = false;
    bool held_ = false;
};

TEST_F(TMainWindowStartupTest, DefaultSettingsCheckAtOnceAndHideAfterTheFirstShow) {
    fs::create_directories(AutostartEntry().parent_path());
    std::ofstream(AutostartEntry()) << "[Desktop Entry]\n"; // a Run value left from before
    TCorvaleFormMain& w = CreateWindow();

    EXPECT_TRUE(Action(w, "_Active")->isChecked());
    EXPECT_EQ(Control<QTimer>(w, "Timer1")->interval(), 900 * 1000);
    ASSERT_TRUE(WaitForRequests("getip", 1));
    ASSERT_TRUE(WaitFor([&] { return Control<QTableWidget>(w, "LV1")->rowCount() == 1; }));
    EXPECT_TRUE(WaitFor([&] { return Control<QTimer>(w, "Timer1")->isActive(); }))
        << "running once the check ended";
    EXPECT_FALSE(w.isVisible()) << "hidden to the tray right after the first show";
    EXPECT_EQ(Control<QTabWidget>(w, "PageControl1")->currentIndex(), 0);

    const std::string ini = ReadIni();
    EXPECT_NE(ini.find("startup=0\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("stay_on_top=0\n"), std::string::npos) << ini;
    EXPECT_FALSE(fs::exists(AutostartEntry()));
    EXPECT_TRUE(boxes.empty());

    RunEventsFor(200ms);
    EXPECT_EQ(Requests("getip").size(), 1u) << "exactly one check at start-up";
}

TEST_F(TMainWindowStartupTest, StartHiddenOffKeepsTheWindowVisible) {
    WriteIni("start_hidden=0\n");
    TCorvaleFormMain& w = CreateWindow();
    RunEventsFor(50ms);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());
}

TEST_F(TMainWindowStartupTest, StoredSettingsAreLoadedAndApplied) {
    // A font whose texts fit the design: the columns show the stored design pixels as they are.
    const TApplicationFontScope font{6};
    WriteIni("check_interval=59\nstartup=1\nmin_to_tray=1\nstay_on_top=1\nid=jdoe\n"
             "[Columns]\nip=0,200\nbuddies=,,300\n");
    TCorvaleFormMain& w = CreateWindow(false);
    EXPECT_EQ(Control<QTimer>(w, "Timer1")->interval(), 900 * 1000) << "below 60 becomes 900";
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2); // the Options page shows them
    EXPECT_EQ(Control<QLineEdit>(w, "EdtCkInterval")->text(), QStringLiteral("900"));
    EXPECT_TRUE(Control<QCheckBox>(w, "CkStartup")->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(w, "Ck_MinToTray")->isChecked());
    EXPECT_TRUE(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(Vars.UserID.Load(), "jdoe");
    EXPECT_TRUE(fs::exists(AutostartEntry()));
    EXPECT_EQ(Control<QTableWidget>(w, "LV1")->columnWidth(0), 32);
    EXPECT_EQ(Control<QTableWidget>(w, "LV1")->columnWidth(1), 200);
    EXPECT_EQ(Control<QTableWidget>(w, "LV2")->columnWidth(2), 300);
    EXPECT_EQ(Control<QTableWidget>(w, "LV2")->columnWidth(1), 95);
}

TEST_F(TMainWindowStartupTest, CaptionBeforeAndAfterTheFirstReport) {
    WriteIni("id=demo\npassword=x\nstart_hidden=0\n");
    TCorvaleFormMain& w = CreateWindow(false);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Corvale 0.3.11 (not logged-in)"));
    w.show();
    ASSERT_TRUE(WaitForRequests("setip", 1));
    EXPECT_TRUE(WaitFor([&] {
        return w.windowTitle() == QStringLiteral("Corvale 0.3.11 - demo on TESTHOST");
    })) << w.windowTitle().toStdString();
}

// A settings file that cannot be written stops the start-up sequence where the write fails:
// the error is shown in the application's error box, the window still comes up, and
// checking stays off because the step that switches it on never ran.
TEST_F(TMainWindowStartupTest, AnErrorStopsTheStartUpSequenceAndIsShown) {
    WriteIni("check_interval=120\n");
    TCorvaleFormMain* created = nullptr;
    {
        const TReadOnlyFolder readOnly(folder);
        ASSERT_TRUE(readOnly.Held()) << "the folder could not be made read-only";
        created = &CreateWindow();
    }
    TCorvaleFormMain& w = *created;

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Caption, QStringLiteral("Corvale"));
    EXPECT_EQ(boxes[0].Text,
              QStringLiteral("Unable to write to %1.").arg(QString::fromStdString(IniPath())));
    EXPECT_EQ(boxes[0].Icon, TMsgIcon::Error);
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2); // the Options page shows it
    EXPECT_EQ(Control<QLineEdit>(w, "EdtCkInterval")->text(), QStringLiteral("120"))
        << "what was loaded before the failing step stays";
    EXPECT_FALSE(Action(w, "_Active")->isChecked());
    EXPECT_FALSE(Control<QTimer>(w, "Timer1")->isActive());
    RunEventsFor(100ms);
    EXPECT_TRUE(Requests("getip").empty());
}

// A settings path that is a folder fails for everyone, whatever the folder allows.
TEST_F(TMainWindowStartupTest, AnErrorStopsTheStartUpSequenceEvenForRoot) {
    fs::remove(IniPath());
    fs::create_directory(IniPath());
    TCorvaleFormMain& w = CreateWindow();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0].Text,
              QStringLiteral("Unable to write to %1.").arg(QString::fromStdString(IniPath())));
    EXPECT_FALSE(Action(w, "_Active")->isChecked());
    EXPECT_FALSE(w.isVisible()) << "the window still shows, and its first show hides it";
}

} // namespace
