#include "shell/mainwindow/AboutSheet.h"

#include "core/uTypes.h"
#include "shell/components/Icons.h"
#include "shell/mainwindow/LinkLabel.h"
#include "shell/mainwindow/PageControls.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TAboutSheet::TAboutSheet(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TabSheet4"));
    QWidget* panel = CreateInfoPanel();

    QPushButton* checkUpdates = NewButton("Button2", QStringLiteral("Check for updates..."), this);
    checkUpdates->setToolTip(QStringLiteral("Check for updates"));
    connect(checkUpdates, &QPushButton::clicked, this, &TAboutSheet::checkUpdatesClicked);
    QPushButton* ok = NewButton("Button1", QStringLiteral("Ok"), this);
    connect(ok, &QPushButton::clicked, this, &TAboutSheet::okClicked);
    PressOnKey(this, QKeySequence(Qt::Key_Escape), ok);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(checkUpdates);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(panel, 1);
    layout->addLayout(buttons);
}

// The sunken panel: the logo beside the texts and the links.
QWidget* TAboutSheet::CreateInfoPanel() {
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel2"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QLabel* logo = NewLabel("Image1", QString(), panel);
    logo->setPixmap(Icons::About().pixmap(48, 48));
    logo->setFixedSize(48, 48);
    logo->setAccessibleName(QStringLiteral("Corvale logo"));
    Lbl_name = NewLabel("Lbl_name", QString(), panel);
    QFont large(QStringLiteral("Arial Black"), 14);
    large.setWeight(QFont::Black);
    Lbl_name->setFont(large);
    Lbl_version = NewLabel("Lbl_version", QString(), panel);
    Lbl_release = NewLabel("Lbl_release", QString(), panel);
    QLabel* purpose =
        NewLabel("Label7", QStringLiteral("Keeps the address of this computer known"), panel);
    QLabel* audience =
        NewLabel("Label8", QStringLiteral("to you and to the buddies you choose."), panel);
    // The links keep their address as their name, which is what the user wants to hear.
    Lbl_web = new TLinkLabel(QStringLiteral("Lbl_web"), panel);
    Lbl_web->setAccessibleDescription(QStringLiteral("Web link: opens the home page"));
    connect(Lbl_web, &TLinkLabel::clicked, this, &TAboutSheet::homePageClicked);
    Lbl_mail = new TLinkLabel(QStringLiteral("Lbl_mail"), panel);
    Lbl_mail->setAccessibleDescription(QStringLiteral("E-mail link: writes to the maker"));
    connect(Lbl_mail, &TLinkLabel::clicked, this, &TAboutSheet::contactClicked);

    auto* links = new QGridLayout;
    links->addWidget(NewLabel("Label10", QStringLiteral("Web:"), panel), 0, 0);
    links->addWidget(Lbl_web, 0, 1, Qt::AlignLeft);
    links->addWidget(NewLabel("Label12", QStringLiteral("E-mail:"), panel), 1, 0);
    links->addWidget(Lbl_mail, 1, 1, Qt::AlignLeft);
    links->setColumnStretch(1, 1);

    auto* texts = new QVBoxLayout;
    texts->addWidget(Lbl_name);
    texts->addWidget(Lbl_version);
    texts->addWidget(Lbl_release);
    texts->addSpacing(6);
    texts->addWidget(purpose);
    texts->addWidget(audience);
    texts->addSpacing(6);
    texts->addLayout(links);
    texts->addStretch(1);
    auto* content = new QHBoxLayout(panel);
    content->addWidget(logo, 0, Qt::AlignTop);
    content->addSpacing(8);
    content->addLayout(texts, 1);
    return panel;
}

void TAboutSheet::Show(const TProduct& product, const QString& homePage,
                       const QString& contactAddress) {
    Lbl_name->setText(QString::fromStdString(product.Name));
    Lbl_version->setText(QStringLiteral("Version %1.%2.%3 (build %4)")
                             .arg(product.Major)
                             .arg(product.Minor)
                             .arg(product.Release)
                             .arg(product.Build));
    Lbl_release->setText(
        QStringLiteral("Release date: %1").arg(QString::fromStdString(product.ReleaseDate)));
    QString home = homePage;
    if (home.endsWith(QLatin1Char('/'))) {
        home.chop(1);
    }
    Lbl_web->setText(home);
    Lbl_mail->setText(contactAddress);
}
