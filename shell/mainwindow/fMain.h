#pragma once
// The main window: four pages (the address history and the buddy list, each a list with its
// tool bar and status panels, and the Options and About pages, widgets of their own); the
// commands as actions; the check timer; the tray icon and its menu; the bridge the tasks reach
// the window through; the start-up state, the settings it holds and the end of the program;
// the window messages of the client.
//
// Files: fMain.cpp (creation, the handlers' connections, first show, close, destruction, the
// end of the program, the window's state), fMainLayout.cpp (the pages, the two lists' tool
// bars and status panels, the window's size), fMainActions.cpp (the timer, image list, actions
// and popup menus; the action and other event handlers), fMainAccessible.cpp (names for
// assistive technology), fMainSettings.cpp (the settings environment, what the Options page
// shows and saves, the column widths, the check timer's period, stay on top), fMainTray.cpp
// (the tray icon, its click, its menu opening, hiding to it), fMainWindowOps.cpp (the whole
// bridge: the tasks' calls, how they reach the window thread, and the changes they make),
// fMainTriggers.cpp (the checks a network change or a wake starts), fMainMessages.cpp (window
// messages, the messages of other programs, the end of the session). The Options and About pages
// are widgets of their own: OptionsSheet and AboutSheet.
//
// Its controls, components and fields keep their designed names and are private; tests find
// each control by its object name (the same name) and run actions as the user does.

#include "core/CheckTriggerRule.h"
#include "core/WindowOps.h"
#include "platform/NetworkWatch.h"
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
class QSocketNotifier;
class QTabWidget;
class QTableWidget;
class QTimer;
class QToolBar;
class ITrayShell;
class TAboutSheet;
class TDesktopNotifier;
class TActionList;
class TImageList;
class TLocalMessageServer;
class TOptionsSheet;
class TPopupMenu;
class TStatusPanelBar;
class TSleepWatch;
class TSysTrayIcon;

// The message number the system gives the client's registered message name; other programs
// ask the window for its handle with it.
std::uint32_t RegisteredMessage();

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

    explicit TCorvaleFormMain(TSetup setup = {});
    ~TCorvaleFormMain() override;

    // Whether the window is open for the user: shown and not minimised.
    bool IsOpen() const;
    // Shows the window, restored and in front.
    void ShowAndActivate();
    // "Minimise the application and hide the window": hidden to the tray, or only minimised
    // while there is no notification area (a hidden window could then never be reached).
    void HideWindow();
    // Selects a page from the program's own code (PageControl1Change does not run).
    void SelectPage(int index);

private:
    // The window operations of the tasks, under the interface's names (window thread only).
    // Only the bridge calls them (fMainWindowOps.cpp), after carrying the call there.
    friend class TMainWindowOps;
    void StopTimer();
    // Timer1 follows _Active; enabling restarts its interval.
    void RestartTimerIfActive();
    bool IsActiveChecked() const;
    void AppendHistoryRow(const QString& address, const QString& dateTime);
    // A new history row: the desktop's notification names the address before it, unless
    // it is the first of the run or the same as the last (a Save empties the list).
    void TellAddressChange(const QString& address);
    void SetStatusText(TStatusBar bar, int panel, const QString& text);
    void SetTrayHint(const QString& hint);
    void SetCaption(const QString& caption); // the window title
    void BeginBuddyList();
    void AppendBuddyRow(const QString& userId, const QString& host, const QString& address,
                        const QString& dateTime);
    void EndBuddyList();
    int BuddyRowCount() const;
    void OpenUrl(const QString& url);
    void PostQuitForUpdate();
    // The update rules of the actions run once the window thread is idle.
    void ScheduleActionUpdate();

public:
    // Window messages: the hook sees every message first and answers the registered one;
    // WindowProc handles the client's own. PostMessage queues one for the window thread.
    std::int64_t WindowProcHook(std::uint32_t message);
    void PostMessage(std::uint32_t message);
    // A message from another program: only the registered one, WM_COMPANION_UNLOAD and
    // WM_QUERY_ID_LENGTH are accepted; anything else is answered 0 and has no effect.
    std::int64_t AnswerForeignMessage(std::uint32_t message);

    // The system's addresses or default routes changed, as the network watch reports it
    // (fMainTriggers.cpp); tests report one without changing the network.
    void NetworkChangedForTests() { NetworkChanged(); }

signals:
    // The program was told to end (Exit, the update hand-over, a close, the end of the
    // session); the message loop ends next.
    void terminateRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Notes the application's quit requests, which the end of the session sends.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Construction: the components and actions (fMainActions.cpp), the pages and the size
    // (fMainLayout.cpp), the tray icon (fMainTray.cpp), the names for assistive technology
    // (fMainAccessible.cpp), the handlers and the place on screen (fMain.cpp).
    void CreateComponents();
    void CreateActions();
    void CreatePages();
    void CreateYourIpPage();
    void CreateContactsPage();
    // The window's size and smallest size: the design's, grown with the font, and never
    // below what the pages' texts need.
    void SizeToDesign();
    void CreateTrayIcon();
    void NameControlsForAssistiveTechnology();
    void ConnectHandlers();
    void PlaceInCentre();
    bool TrayAvailable() const;         // fMainTray.cpp
    void WaitForTray();                 // fMainTray.cpp
    bool IsVisibleForOpenClose() const; // fMainActions.cpp

    // Handlers of the start-up and the end (fMain.cpp; errors propagate to the caller).
    void FormCreate();
    void FormShow();
    // Answers whether the close may go ahead; hides the window instead when it may not.
    bool FormCloseQuery();
    void FormDestroy();
    // Who ends the program: the user (Exit, a close, the update hand-over), the end of the
    // session, or a termination signal.
    enum class TEndBy { User, SessionEnd, Signal };
    void Terminate(TEndBy by = TEndBy::User);

    // Action handlers (fMainActions.cpp).
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

    // Other event handlers (fMainActions.cpp; the tray's in fMainTray.cpp). Button1 and the
    // links are the About page's.
    void Timer1Timer();
    void PageControl1Change(int index);
    void SysTrayIcon1Click();
    void PopupTrayPopup();
    void Button1Click();
    void Lbl_webClick();
    void Lbl_mailClick();
    void OpenWebPage(const QString& address);
    void ShowAbout();

    // The settings, what the Options page shows and saves, the column widths and the
    // settings' effects on the window (fMainSettings.cpp).
    void ShowOptions();
    void ApplyOptions();
    void SaveColumns();
    TSettingsEnv SettingsEnv();
    TListWidths ListWidths() const;
    void ApplyListWidths(const TListWidths& widths);
    void RestartCheckTimer(std::uint32_t periodMs);
    void ApplyStayOnTop(bool onTop);

    // The checks that a change of the network, or the machine's wake, starts
    // (fMainTriggers.cpp); both follow the one trigger rule.
    void StartNetworkWatch();
    void StartSleepWatch();
    void NetworkChanged();
    void TriggerCheckDue();
    void CheckEnded();
    void FollowTrigger(const TCheckTriggerRule::TStep& step);

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
    QWidget* TabSheet1 = nullptr;       // "Your IP"
    QWidget* TabSheet2 = nullptr;       // "Contacts"
    TOptionsSheet* TabSheet3 = nullptr; // "Options"
    TAboutSheet* TabSheet4 = nullptr;   // "About"
    // "Your IP".
    QToolBar* ToolBar2 = nullptr;
    QTableWidget* LV1 = nullptr;
    TStatusPanelBar* SB1 = nullptr;
    // "Contacts".
    QToolBar* ToolBar1 = nullptr;
    QTableWidget* LV2 = nullptr;
    TStatusPanelBar* SB2 = nullptr;
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
    TDesktopNotifier* notifier_ = nullptr;
    std::unique_ptr<platform::TNetworkWatch> networkWatch_;
    TSleepWatch* sleepWatch_ = nullptr;
    QTimer* trayWait_ = nullptr;     // runs while the window is minimised for want of a tray
    QTimer* triggerTimer_ = nullptr; // armed at the time the trigger rule names
    TCheckTriggerRule triggerRule_;
    // Address checks between their stop of Timer1 and its restart (each does both once);
    // checks may overlap.
    int checksRunning_ = 0;
    QString lastRecordedAddress_; // of the last history row of this run; empty before one
    int buddyListUpdates_ = 0;    // nesting of the buddy list's bulk updates
    bool destroyed_ = false;
    // Whether a user may be there to read what goes wrong on the way out. Not when the end
    // of the session or a signal ends the program: its errors then go to standard error.
    bool EndsUnattended() const;
    std::optional<TEndBy> endBy_;
    // Set while a request to quit the application is handled (fMainMessages.cpp).
    bool closingOnQuitRequest_ = false;
};
