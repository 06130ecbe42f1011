#pragma once
// The Options page (TabSheet3): the account and its service, the check interval, the
// start-up switches and whether a new address is told.
// It shows what the settings hold and gives back what the user entered; what its buttons do
// is the window's business, so it only says which one was pressed.
//
// Its controls keep their designed names (EdtID, Ck_MinToTray, Button5, ...); tests find them
// by object name.

#include "settings/uSettings.h"

#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class TDesignScale;

class TOptionsSheet : public QWidget {
    Q_OBJECT

public:
    // The interval edit's width follows the window's design scale.
    explicit TOptionsSheet(const TDesignScale& design, QWidget* parent = nullptr);

    void Show(const TOptionsPage& options);
    TOptionsPage Read() const;
    // After a Save that refused the Service field: the field has the focus, its text selected.
    void PointAtService();

signals:
    void createIdClicked(); // Button3
    void loginClicked();    // Button4
    void saveClicked();     // Button5
    void cancelClicked();   // Button6, or Escape anywhere on the page

private:
    QGroupBox* CreateAccountBox();
    QGroupBox* CreateBehaviourBox(const TDesignScale& design);

    QLineEdit* EdtID = nullptr;
    QLineEdit* EdtPswd = nullptr;
    QLineEdit* EdtCkInterval = nullptr;
    QCheckBox* CkStartup = nullptr;
    QCheckBox* CkStartMinimized = nullptr;
    QCheckBox* Ck_MinToTray = nullptr;
    QCheckBox* Ck_StayOnTop = nullptr;
    QLineEdit* EdtService = nullptr;
    QCheckBox* CkNotifyChange = nullptr;
};
