#pragma once
// A notification-area icon owned by a form: it puts one icon with a tip into the tray, turns
// the mouse messages that the shell sends for it into events, opens a popup menu at the
// cursor, can animate the icon through an image list, and can take the form out of the
// taskbar leaving only the icon (minimise to tray).

#include "shell/components/TrayShell.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class QTimer;
class QWidget;
class TImageList;
class TPopupMenu;

enum class TMouseButton { mbLeft = 0, mbRight = 1, mbMiddle = 2 };

enum TShiftFlag : unsigned {
    ssShift = 1u << 0,
    ssAlt = 1u << 1,
    ssCtrl = 1u << 2,
    ssLeft = 1u << 3,
    ssRight = 1u << 4,
    ssMiddle = 1u << 5,
};
using TShiftState = unsigned;

class TSysTrayIcon;
using TNotifyEvent = std::function<void(TSysTrayIcon* sender)>;
using TMouseEvent =
    std::function<void(TSysTrayIcon* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TSysTrayIcon* sender, TShiftState shift, int x, int y)>;
using TCycleEvent = std::function<void(TSysTrayIcon* sender, std::int32_t nextIndex)>;

class TSysTrayIcon : public QObject {
public:
    // `owner` is the form the component is placed on (it may be null: then nothing is hooked).
    explicit TSysTrayIcon(QWidget* owner,
                          std::unique_ptr<ITrayShell> shell = CreateSystemTrayShell());
    ~TSysTrayIcon() override;

    // Properties, in their declaration order.
    bool DesignPreview() const { return designPreview_; }
    // Asks the shell to add (true) or remove the icon as IconVisible would, leaving
    // IconVisible as it was; there is no design time here to limit it to.
    void SetDesignPreview(bool value);
    TImageList* IconList() const { return iconList_; }
    void SetIconList(TImageList* list);
    bool CycleIcons() const { return cycleIcons_; }
    void SetCycleIcons(bool value);
    std::uint32_t CycleInterval() const { return cycleInterval_; }
    void SetCycleInterval(std::uint32_t milliseconds);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }
    const QString& Hint() const { return hint_; }
    void SetHint(const QString& value);
    bool ShowHint() const { return showHint_; }
    void SetShowHint(bool value);
    const QIcon& Icon() const { return icon_; }
    void SetIcon(const QIcon& icon);
    bool IconVisible() const { return iconVisible_; }
    void SetIconVisible(bool value);
    std::int32_t IconIndex() const { return iconIndex_; }
    void SetIconIndex(std::int32_t index);
    TPopupMenu* PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(TPopupMenu* menu);
    bool LeftPopup() const { return leftPopup_; }
    void SetLeftPopup(bool value) { leftPopup_ = value; }
    bool StartMinimized() const { return startMinimized_; }
    void SetStartMinimized(bool value) { startMinimized_ = value; }
    bool MinimizeToTray() const { return minimizeToTray_; }
    void SetMinimizeToTray(bool value) { minimizeToTray_ = value; }

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TCycleEvent OnCycle;

    // The owner form has been built and its properties set: adds the icon when IconVisible.
    void Loaded();
    // Another component is being removed: a reference to it is cleared.
    void Notification(QObject* removed);

    // The shell calls; each answers whether the shell accepted it.
    virtual bool AddTrayIcon();
    virtual bool DeleteTrayIcon();
    virtual bool ModifyTrayIcon();

    // Hides the form and its taskbar button; HideToTray then shows the icon.
    void HideMainWindow();
    virtual void HideToTray();

    // The tray window's procedure: the icon's mouse messages arrive here.
    std::intptr_t TrayWindowProc(std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam);
    // Opens the popup menu at the cursor.
    void ShowPopup();
    // One tick of the cycle timer: shows the next image of the list.
    void CycleStep();

    // What the last shell call sent.
    const TNotifyIconData& NotifyData() const { return notifyData_; }

protected:
    virtual void RaiseClick();
    virtual void RaiseDblClick();
    virtual void RaiseCycle(std::int32_t nextIndex);
    virtual void RaiseMouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void RaiseMouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void RaiseMouseMove(TShiftState shift, int x, int y);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void HandleMouseMessage(std::uint32_t mouseMessage);
    TShiftState CurrentShiftState();
    void RunDefaultItem();
    void RefreshNotifyData();
    void UpdateCycleTimer();
    void RestoreOwner();
    void WatchRemoval(QObject* component, QMetaObject::Connection& connection);

    QPointer<QWidget> owner_;
    std::unique_ptr<ITrayShell> shell_;

    bool enabled_ = true;
    QIcon icon_;
    bool iconVisible_ = true;
    QString hint_;
    bool showHint_ = false;
    TPopupMenu* popupMenu_ = nullptr;
    bool leftPopup_ = false;
    bool startMinimized_ = false;
    bool minimizeToTray_ = false;
    bool clickPending_ = false;
    QTimer* cycleTimer_ = nullptr;
    bool cycleTimerEnabled_ = false;
    std::int32_t iconIndex_ = 0;
    bool designPreview_ = false;
    bool previewSwitching_ = false; // a DesignPreview change is being applied
    TImageList* iconList_ = nullptr;
    bool cycleIcons_ = false;
    std::uint32_t cycleInterval_ = 0;
    TNotifyIconData notifyData_;

    QMetaObject::Connection iconListRemoval_;
    QMetaObject::Connection popupMenuRemoval_;
};
