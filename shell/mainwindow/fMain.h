#pragma once
// The main window: the address history, the buddy list, the options and the About page on
// four pages; the commands as actions; the check timer; the tray icon and its menu; the
// start-up state and the end of the program; the window messages of the client.
//
// The unit is split by responsibility: fMain.cpp (creation, first show, close, destruction,
// the window's state), fMainLayout.cpp (pages and controls), fMainActions.cpp (actions and
// event handlers), fMainSettings.cpp (the settings and the Options page), fMainTray.cpp (the
// tray icon and its menu), fMainTaskOps.cpp (the changes the tasks make), fMainMessages.cpp
// (window messages, the messages of other programs, the end of the session).
//
// Its controls, components and fields keep their designed names and are private; tests find
// each control by its object name (the same name) and run actions as the user does.

#include "core/WindowOps.h"
#include "settings/uSettings.h"
#include "shell/components/DesignScale.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSocketNotifier;
class QTabWidget;
class QTableWidget;
class QTimer;
class QToolBar;
class ITrayShell;
class TActionList;
class TImageList;
class TLinkLabel;
class TLocalMessageServer;
class TPopupMenu;
class TStatusPanelBar;
class TSysTrayIcon;

// The message number the system gives the client's registered message name; other programs
// ask the window for its handle with it.
std::uint32_t RegisteredMessage();

// The window's own messages.
inline constexpr std::uint32_t WM_HIDE_AT_START = 0x401;
inline constexpr std::uint32_t WM_QUIT_FOR_UPDATE = 0x402; // posted by the update hand-over
// The messages other programs may send.
inline constexpr std::uint32_t WM_COMPANION_UNLOAD = 0x7E8;
inline constexpr std::uint32_t WM_QUERY_ID_LENGTH = 0x7E9;

class TCorvaleFormMain : public QWidget {
    Q_OBJECT

public:
    // What the program entry decides for the window (tests choose their own).
    struct TSetup {
        // Listen there for the messages of other programs; empty: do not listen. Only the
        // holder of the single-instance lock may listen.
        QString MessageSocketPath;
        // The notification area; empty: the system's.
        std::function<std::unique_ptr<ITrayShell>()> MakeTrayShell;
        // Whether a notification area exists now; empty: ask the system.
        std::function<bool()> TrayAvailable;
        // The program file that start with the system runs; empty: this program.
        std::string ProgramPath;
    };

    // The window's own fields as they stand. Nothing on screen shows them; read-only.
    struct TOwnFields {
        bool FirstShow;
        bool SessionEnding;
        TSettings Settings;
        bool ActiveFlag;
    };

    explicit TCorvaleFormMain(TSetup setup = {});
    ~TCorvaleFormMain() override;

    TOwnFields OwnFieldsForTests() const;

    // Whether the window is open for the user: shown and not minimised.
    bool IsOpen() const;
    // Shows the window, restored and in front.
    void ShowAndActivate();
    // "Minimise the application and hide the window": hidden to the tray, or only minimised
    // while there is no notification area (a hidden window could then never be reached).
    void HideWindow();
    // Selects a page from the program's own code (PageControl1Change does not run).
    void SelectPage(int index);

    // The window operations the tasks use (window thread only; see fMainWindowOps.cpp). The
    // caption is the window title.
    void StopCheckTimer();
    // Timer1 follows _Active; enabling restarts its interval.
    void RestartCheckTimerIfActive();
    bool IsActiveChecked() const;
    void AppendHistoryRow(const QString& address, const QString& dateTime);
    void SetStatusText(TStatusBar bar, int panel, const QString& text);
    void SetTrayHint(const QString& hint);
    void BeginBuddyList();
    void AppendBuddyRow(const QString& userId, const QString& host, const QString& address,
                        const QString& dateTime);
    void EndBuddyList();
    int BuddyRowCount() const;
    // The update rules of the actions run once the window thread is idle.
    void ScheduleActionUpdate();

    // Window messages: the hook sees every message first and answers the registered one;
    // WindowProc handles the client's own. PostMessage queues one for the window thread.
    std::int64_t WindowProcHook(std::uint32_t message);
    void PostMessage(std::uint32_t message);
    // A message from another program: only the registered one, 0x7E8 and 0x7E9 are
    // accepted; anything else is answered 0 and has no effect.
    std::int64_t AnswerForeignMessage(std::uint32_t message);

signals:
    // The program was told to end (Exit, the update hand-over, a close, the end of the
    // session); the message loop ends next.
    void terminateRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Construction (fMain.cpp, fMainLayout.cpp, fMainActions.cpp, fMainTray.cpp).
    void CreateComponents();
    void CreateActions();
    void CreatePages();
    void CreateYourIpPage();
    void CreateContactsPage();
    void CreateOptionsPage();
    void CreateAboutPage();
    // The window's size and smallest size: the design's, grown with the font, and never
    // below what the pages' texts need.
    void SizeToDesign();
    void CreateTrayIcon();
    void NameControlsForAssistiveTechnology();
    void ConnectHandlers();
    void PlaceInCentre();
    bool TrayAvailable() const;
    bool IsVisibleForOpenClose() const;

    // Handlers of the start-up and the end (errors propagate to the caller).
    void FormCreate();
    void FormShow();
    // Answers whether the close may go ahead; hides the window instead when it may not.
    bool FormCloseQuery();
    void FormDestroy();
    // Who ends the program: the user (Exit, a close, the update hand-over), the end of the
    // session, or a termination signal.
    enum class TEndBy { User, SessionEnd, Signal };
    void Terminate(TEndBy by = TEndBy::User);

    // Action handlers.
    void actActiveExecute();
    void actActiveUpdate();
    void actExitExecute();
    void actOpenCloseExecute();
    void actOpenCloseUpdate();
    void actCreateIDExecute();
    void actCancelExecute();
    void actSaveExecute();
    void actCheckNowExecute();
    void actGetBuddyExecute();
    void actInviteBuddyExecute();
    void actRemoveBuddyExecute();
    void actCopyIPExecute();
    void actCopyBuddyIPExecute();
    void actCopyBuddyIPUpdate();
    void actCopySelIPExecute();
    void actCopySelIPUpdate();
    void actHomePageExecute();
    void actAboutExecute();
    void actPortlynxExecute();
    void actPortlynxUpdate();
    void actCheckUpdatesExecute();
    void actLoginExecute();

    // Other event handlers.
    void Timer1Timer();
    void PageControl1Change(int index);
    void SysTrayIcon1Click();
    void PopupTrayPopup();
    void Button1Click();
    void Lbl_webClick();
    void Lbl_mailClick();
    void OpenWebPage(const QString& address);

    // The settings and the Options and About pages (fMainSettings.cpp).
    void ShowOptions();
    void ShowAbout();
    void ApplyOptions();
    void SaveColumns();
    TSettingsEnv SettingsEnv();
    TListWidths ListWidths() const;
    void ApplyListWidths(const TListWidths& widths);
    void RestartCheckTimer(std::uint32_t periodMs);
    void ApplyStayOnTop(bool onTop);

    // Messages (fMainMessages.cpp).
    std::int64_t WindowProc(std::uint32_t message);
    void StartMessageListener();
    void WatchEndOfSession();
    void QueryEndSession();

    // Own fields, in their order: the start-up state, the settings, the copy of _Active.
    bool FirstShow = true;
    bool SessionEnding = false;
    TSettings Settings; // Startup, StartHidden, MinToTray, StayOnTop, CheckInterval
    bool ActiveFlag = false;

    // Pages.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QWidget* TabSheet4 = nullptr;
    // "Your IP".
    QToolBar* ToolBar2 = nullptr;
    QTableWidget* LV1 = nullptr;
    TStatusPanelBar* SB1 = nullptr;
    // "Contacts".
    QToolBar* ToolBar1 = nullptr;
    QTableWidget* LV2 = nullptr;
    TStatusPanelBar* SB2 = nullptr;
    // "Options".
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Lbl_details = nullptr;
    QPushButton* Button3 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLineEdit* EdtID = nullptr;
    QLineEdit* EdtPswd = nullptr;
    QPushButton* Button4 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLineEdit* EdtCkInterval = nullptr;
    QCheckBox* CkStartup = nullptr;
    QCheckBox* CkStartMinimized = nullptr;
    QCheckBox* Ck_MinToTray = nullptr;
    QCheckBox* Ck_StayOnTop = nullptr;
    QPushButton* Button5 = nullptr;
    QPushButton* Button6 = nullptr;
    // "About".
    QLabel* Image1 = nullptr;
    QLabel* Lbl_name = nullptr;
    QLabel* Lbl_version = nullptr;
    QLabel* Lbl_release = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    TLinkLabel* Lbl_web = nullptr;
    TLinkLabel* Lbl_mail = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button1 = nullptr;
    // Components.
    QTimer* Timer1 = nullptr;
    TImageList* IL16 = nullptr;
    TSysTrayIcon* SysTrayIcon1 = nullptr;
    TPopupMenu* PopupTray = nullptr;
    TPopupMenu* PopupLV1 = nullptr;
    TPopupMenu* PopupLV2 = nullptr;
    TActionList* ActionList1 = nullptr;
    QAction* Portlynx1 = nullptr; // the tray menu's third item

    // Actions (object names "_Active", "_Exit", ...).
    QAction* actActive = nullptr;
    QAction* actExit = nullptr;
    QAction* actOpenClose = nullptr;
    QAction* actCreateID = nullptr;
    QAction* actCancel = nullptr;
    QAction* actSave = nullptr;
    QAction* actCheckNow = nullptr;
    QAction* actGetBuddy = nullptr;
    QAction* actInviteBuddy = nullptr;
    QAction* actRemoveBuddy = nullptr;
    QAction* actCopyIP = nullptr;
    QAction* actCopyBuddyIP = nullptr;
    QAction* actCopySelIP = nullptr;
    QAction* actHomePage = nullptr;
    QAction* actAbout = nullptr;
    QAction* actPortlynx = nullptr;
    QAction* actCheckUpdates = nullptr;
    QAction* actLogin = nullptr;

    TSetup setup_;
    TDesignScale design_; // the design's pixels for the font in use
    TLocalMessageServer* messageServer_ = nullptr;
    QSocketNotifier* terminationNotifier_ = nullptr;
    int buddyListUpdates_ = 0; // nesting of the buddy list's bulk updates
    bool destroyed_ = false;
    // Whether a user may be there to read what goes wrong on the way out. Not when the end
    // of the session or a signal ends the program: its errors then go to standard error.
    bool EndsUnattended() const;
    std::optional<TEndBy> endBy_;
};
