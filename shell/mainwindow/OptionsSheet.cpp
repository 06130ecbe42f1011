#include "shell/mainwindow/OptionsSheet.h"

#include "core/uEndpoint.h"
#include "shell/components/DesignScale.h"
#include "shell/mainwindow/PageControls.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QCheckBox* NewCheckBox(const char* name, const QString& text, const QString& hint,
                       QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setToolTip(hint);
    return box;
}

// The hint says what the edit is for; the name is what its label says, without the colon.
QLineEdit* NewEdit(const char* name, const QString& accessibleName, const QString& hint,
                   QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setToolTip(hint);
    edit->setAccessibleName(accessibleName);
    edit->setAccessibleDescription(hint);
    return edit;
}

// A group box's caption carries padding a screen reader would read out.
QGroupBox* NewGroupBox(const char* name, const QString& title, QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setAccessibleName(title.trimmed());
    return box;
}

} // namespace

TOptionsSheet::TOptionsSheet(const TDesignScale& design, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TabSheet3"));
    QGroupBox* account = CreateAccountBox();
    QGroupBox* behaviour = CreateBehaviourBox(design);

    // Beside the buttons, where the page has the room for it at the design's height; on
    // until the settings say otherwise.
    CkNotifyChange = NewCheckBox(
        "CkNotifyChange", QStringLiteral("Notify me when my address changes"),
        QStringLiteral("Show a desktop notification when your IP address changes"), this);
    CkNotifyChange->setChecked(true);
    QPushButton* save = NewButton("Button5", QStringLiteral("Save"), this);
    connect(save, &QPushButton::clicked, this, &TOptionsSheet::saveClicked);
    QPushButton* cancel = NewButton("Button6", QStringLiteral("Cancel"), this);
    connect(cancel, &QPushButton::clicked, this, &TOptionsSheet::cancelClicked);
    PressOnKey(this, QKeySequence(Qt::Key_Escape), cancel);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(CkNotifyChange);
    buttons->addStretch(1);
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 6);
    layout->setSpacing(4);
    layout->addWidget(account);
    layout->addWidget(behaviour);
    layout->addStretch(1);
    layout->addLayout(buttons);
}

// " Corvale ID ": where to create an ID, and the login with it at the service.
QGroupBox* TOptionsSheet::CreateAccountBox() {
    QGroupBox* box = NewGroupBox("GroupBox1", QStringLiteral(" Corvale ID "), this);
    QLabel* details =
        NewLabel("Lbl_details", QStringLiteral("Don't have an ID ?\nCreate here:"), box);
    details->setFont(QFont(QStringLiteral("Arial"), font().pointSize()));
    QPalette navy = details->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    details->setPalette(navy);
    details->setAccessibleName(details->text().simplified());
    QPushButton* createId = NewButton("Button3", QStringLiteral("Create ID"), box);
    connect(createId, &QPushButton::clicked, this, &TOptionsSheet::createIdClicked);

    QGroupBox* loginBox = NewGroupBox("GroupBox3", QStringLiteral(" Login "), box);
    EdtID = NewEdit("EdtID", QStringLiteral("ID"),
                    QStringLiteral("Your ID used to update your IP on the server"), loginBox);
    EdtPswd =
        NewEdit("EdtPswd", QStringLiteral("Password"),
                QStringLiteral("The password used to update your ip on the server"), loginBox);
    EdtPswd->setEchoMode(QLineEdit::Password);
    QPushButton* login = NewButton("Button4", QStringLiteral("Login"), loginBox);
    login->setToolTip(QStringLiteral("Login"));
    connect(login, &QPushButton::clicked, this, &TOptionsSheet::loginClicked);
    // The service the ID belongs to, beside the button that logs in there.
    EdtService = NewEdit("EdtService", QStringLiteral("Service"),
                         QStringLiteral("The service that keeps your IP: HOST or HOST:PORT, "
                                        "optionally after http:// or https://; empty for the "
                                        "built-in one"),
                         loginBox);
    EdtService->setPlaceholderText(QString::fromLatin1(
        kDefaultServiceHost.data(), static_cast<qsizetype>(kDefaultServiceHost.size())));
    QLabel* serviceLabel = NewLabel("Label5", QStringLiteral("Service:"), loginBox);
    serviceLabel->setBuddy(EdtService);
    auto* serviceRow = new QHBoxLayout;
    serviceRow->addWidget(EdtService, 1);
    serviceRow->addWidget(login);
    QWidget::setTabOrder(EdtPswd, EdtService);
    QWidget::setTabOrder(EdtService, login);
    auto* loginGrid = new QGridLayout(loginBox);
    loginGrid->setVerticalSpacing(3);
    loginGrid->addWidget(NewLabel("Label1", QStringLiteral("ID:"), loginBox), 0, 0);
    loginGrid->addWidget(EdtID, 0, 1);
    loginGrid->addWidget(NewLabel("Label3", QStringLiteral("Password:"), loginBox), 1, 0);
    loginGrid->addWidget(EdtPswd, 1, 1);
    loginGrid->addWidget(serviceLabel, 2, 0);
    loginGrid->addLayout(serviceRow, 2, 1);

    auto* invitation = new QVBoxLayout;
    invitation->addWidget(details);
    invitation->addWidget(createId);
    invitation->addStretch(1);
    auto* layout = new QHBoxLayout(box);
    layout->addLayout(invitation);
    layout->addWidget(loginBox, 1);
    return box;
}

// The untitled box: the check interval and the four switches.
QGroupBox* TOptionsSheet::CreateBehaviourBox(const TDesignScale& design) {
    auto* box = new QGroupBox(this);
    box->setObjectName(QStringLiteral("GroupBox2"));
    box->setAccessibleName(QStringLiteral("Checking and start-up"));
    EdtCkInterval =
        NewEdit("EdtCkInterval", QStringLiteral("Check interval"),
                QStringLiteral("The interval (in seconds) for checking IP changes"), box);
    EdtCkInterval->setMaximumWidth(design.X(70));
    CkStartup =
        NewCheckBox("CkStartup", QStringLiteral("Start when Windows starts"), QString(), box);
    CkStartMinimized = NewCheckBox("CkStartMinimized", QStringLiteral("Start minimized"),
                                   QStringLiteral("Start minimized"), box);
    Ck_MinToTray = NewCheckBox("Ck_MinToTray", QStringLiteral("Minimize to tray on window close"),
                               QStringLiteral("Minimize to tray"), box);
    Ck_StayOnTop = NewCheckBox("Ck_StayOnTop", QStringLiteral("Stay on top"),
                               QStringLiteral("Stay on top"), box);
    auto* interval = new QHBoxLayout;
    interval->addWidget(NewLabel("Label2", QStringLiteral("Check interval:"), box));
    interval->addWidget(EdtCkInterval);
    interval->addWidget(NewLabel("Label4", QStringLiteral("seconds"), box));
    interval->addStretch(1);
    auto* layout = new QGridLayout(box);
    layout->setVerticalSpacing(2);
    layout->addLayout(interval, 0, 0, 1, 2);
    layout->addWidget(CkStartup, 1, 0);
    layout->addWidget(CkStartMinimized, 1, 1);
    layout->addWidget(Ck_MinToTray, 2, 0);
    layout->addWidget(Ck_StayOnTop, 2, 1);
    layout->setColumnStretch(1, 1);
    return box;
}

void TOptionsSheet::Show(const TOptionsPage& options) {
    EdtID->setText(QString::fromStdString(options.ID));
    EdtPswd->setText(QString::fromStdString(options.Password));
    EdtCkInterval->setText(QString::fromStdString(options.CheckIntervalText));
    CkStartup->setChecked(options.Startup);
    CkStartMinimized->setChecked(options.StartHidden);
    Ck_MinToTray->setChecked(options.MinToTray);
    Ck_StayOnTop->setChecked(options.StayOnTop);
    EdtService->setText(QString::fromStdString(options.Service));
    CkNotifyChange->setChecked(options.NotifyChange);
}

TOptionsPage TOptionsSheet::Read() const {
    TOptionsPage options;
    options.ID = EdtID->text().toStdString();
    options.Password = EdtPswd->text().toStdString();
    options.CheckIntervalText = EdtCkInterval->text().toStdString();
    options.Startup = CkStartup->isChecked();
    options.StartHidden = CkStartMinimized->isChecked();
    options.MinToTray = Ck_MinToTray->isChecked();
    options.StayOnTop = Ck_StayOnTop->isChecked();
    options.Service = EdtService->text().toStdString();
    options.NotifyChange = CkNotifyChange->isChecked();
    return options;
}

void TOptionsSheet::PointAtService() {
    EdtService->setFocus(Qt::OtherFocusReason);
    EdtService->selectAll();
}
