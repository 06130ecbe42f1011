// The invite dialog's controls, texts, positions and tab order.

#include "shell/components/DesignScale.h"
#include "shell/components/Icons.h"
#include "shell/components/fInvite.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

namespace {

const QString kLabel2Text = QStringLiteral("You can invite any CorvaleID user using\n"
                                           "his ID.\n"
                                           "When you apply the invitation, an e-mail\n"
                                           "message will be sent to your invited user,\n"
                                           "ask him to accept your invitation.");

// Each fixed text with the width the design gives it, less the frame around it.
TDesignScale InviteDesignScale(const QFontMetrics& metrics) {
    return TDesignScale(metrics,
                        {
                            {QStringLiteral("You can invite any CorvaleID user using"), 201},
                            {QStringLiteral("When you apply the invitation, an e-mail"), 201},
                            {QStringLiteral("message will be sent to your invited user,"), 201},
                            {QStringLiteral("ask him to accept your invitation."), 201},
                            {QStringLiteral("Your Buddy's ID:"), 79},
                            {QStringLiteral("Invite"), 65 - 16},
                            {QStringLiteral("Cancel"), 65 - 16},
                            {QStringLiteral(" Visible hosts for this buddy "), 241 - 16},
                        });
}

template <typename T> T* Place(T* control, const char* name, const QRect& rect) {
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(rect);
    return control;
}

} // namespace

void TFormInvite::CreateControls() {
    setWindowTitle(QStringLiteral("Invite User"));
    setWindowIcon(Icons::InviteWindow());
    // The font in use (the desktop's), not the designed one: the geometry follows it.
    const TDesignScale s = InviteDesignScale(fontMetrics());
    setFixedSize(s.X(272), s.Y(278)); // a dialog border: fixed size, no maximise

    Label2 = Place(new QLabel(kLabel2Text, this), "Label2", s.Rect(64, 8, 201, 65));
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    Image1 = Place(new QLabel(this), "Image1", s.Rect(16, 24, 32, 32));
    Image1->setPixmap(Icons::InvitePicture().pixmap(32, 32));

    GroupBox1 = Place(new QGroupBox(this), "GroupBox1", s.Rect(8, 79, 257, 192));
    Label1 = Place(new QLabel(QStringLiteral("Your Buddy's ID:"), GroupBox1), "Label1",
                   s.Rect(8, 17, 79, 13));
    Edit1 = Place(new QLineEdit(GroupBox1), "Edit1", s.Rect(96, 13, 153, 21));
    Label1->setBuddy(Edit1);

    Button1 = Place(new QPushButton(QStringLiteral("Invite"), GroupBox1), "Button1",
                    s.Rect(112, 160, 65, 25));
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TFormInvite::Button1Click);
    Button2 = Place(new QPushButton(QStringLiteral("Cancel"), GroupBox1), "Button2",
                    s.Rect(184, 160, 65, 25));
    connect(Button2, &QPushButton::clicked, this, &TFormInvite::Button2Click);

    GroupBox2 = Place(new QGroupBox(QStringLiteral(" Visible hosts for this buddy "), GroupBox1),
                      "GroupBox2", s.Rect(8, 40, 241, 115));
    LV = Place(new QTableWidget(0, 1, GroupBox2), "LV", s.Rect(8, 16, 225, 91));
    LV->setHorizontalHeaderLabels({QStringLiteral("Host")});
    LV->setColumnWidth(0, s.X(195));
    LV->horizontalHeader()->setHighlightSections(false);
    LV->verticalHeader()->hide();
    LV->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    LV->setShowGrid(true);
    LV->setSelectionBehavior(QAbstractItemView::SelectRows);
    LV->setSelectionMode(QAbstractItemView::SingleSelection);
    LV->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

// Edit1, Invite, Cancel, then the host list; the group boxes take no focus of their own.
void TFormInvite::SetTabOrder() {
    setTabOrder(Edit1, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, LV);
    Edit1->setFocus();
}
