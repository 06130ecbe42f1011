// The invite dialog: its controls, the checks of "Invite", and the ways to cancel it.

#include "shell/components/fInvite.h"
#include "support/InviteFixture.h"
#include "support/TextRoom.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

TEST_F(InviteDialogTest, HasItsControlsAndTexts) {
    EXPECT_EQ(dialog->objectName(), QStringLiteral("FormInvite"));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Invite User"));
    EXPECT_EQ(Label2(*dialog)->text(),
              QStringLiteral("You can invite any CorvaleID user using\nhis ID.\nWhen you apply "
                             "the invitation, an e-mail\nmessage will be sent to your invited "
                             "user,\nask him to accept your invitation."));
    EXPECT_EQ(Label1(*dialog)->text(), QStringLiteral("Your Buddy's ID:"));
    EXPECT_EQ(Button1(*dialog)->text(), QStringLiteral("Invite"));
    EXPECT_EQ(Button2(*dialog)->text(), QStringLiteral("Cancel"));
    EXPECT_TRUE(GroupBox1(*dialog)->title().isEmpty());
    EXPECT_EQ(GroupBox2(*dialog)->title(), QStringLiteral(" Visible hosts for this buddy "));
    EXPECT_EQ(LV(*dialog)->columnCount(), 1);
    EXPECT_EQ(LV(*dialog)->horizontalHeaderItem(0)->text(), QStringLiteral("Host"));
    EXPECT_TRUE(LV(*dialog)->showGrid());
    EXPECT_EQ(LV(*dialog)->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(LV(*dialog)->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(Edit1(*dialog)->maxLength(), 32767); // Qt's own limit, far above any ID
    EXPECT_TRUE(Button1(*dialog)->isDefault());
    EXPECT_FALSE(dialog->windowIcon().isNull());
    EXPECT_FALSE(Image1(*dialog)->pixmap().isNull());
    EXPECT_FALSE(dialog->IsGettingHostList());
    EXPECT_TRUE(dialog->InvitedHostIDs().empty());
    EXPECT_THAT(finished, IsEmpty());
}

// Positions and sizes are the design's pixels, grown by one factor per direction where the
// font needs more room, and the dialog keeps its size.
TEST_F(InviteDialogTest, KeepsTheDesignedLayoutAtOneScale) {
    EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
    const double sx = dialog->width() / 272.0;
    const double sy = dialog->height() / 278.0;
    ASSERT_GE(sx, 1.0);
    ASSERT_GE(sy, 1.0);
    struct TPlace {
        QWidget* Control;
        QRect Design;
    };
    const TPlace places[] = {
        {Label2(*dialog), {64, 8, 201, 65}},     {Image1(*dialog), {16, 24, 32, 32}},
        {GroupBox1(*dialog), {8, 79, 257, 192}}, {Label1(*dialog), {8, 17, 79, 13}},
        {Edit1(*dialog), {96, 13, 153, 21}},     {Button1(*dialog), {112, 160, 65, 25}},
        {Button2(*dialog), {184, 160, 65, 25}},  {GroupBox2(*dialog), {8, 40, 241, 115}},
        {LV(*dialog), {8, 16, 225, 91}},
    };
    for (const TPlace& p : places) {
        SCOPED_TRACE(p.Control->objectName().toStdString());
        const QRect r = p.Control->geometry();
        EXPECT_NEAR(r.x(), p.Design.x() * sx, 1.0);
        EXPECT_NEAR(r.y(), p.Design.y() * sy, 1.0);
        EXPECT_NEAR(r.width(), p.Design.width() * sx, 1.0);
        EXPECT_NEAR(r.height(), p.Design.height() * sy, 1.0);
    }
    EXPECT_NEAR(LV(*dialog)->columnWidth(0), 195 * sx, 1.0);
}

TEST_F(InviteDialogTest, NoFixedTextIsCut) {
    const QFontMetrics metrics(Label2(*dialog)->font());
    for (const QString& line : Label2(*dialog)->text().split(QLatin1Char('\n'))) {
        EXPECT_LE(metrics.horizontalAdvance(line), Label2(*dialog)->width()) << line.toStdString();
    }
    EXPECT_LE(metrics.lineSpacing() * 5, Label2(*dialog)->height());
    EXPECT_LE(metrics.horizontalAdvance(Label1(*dialog)->text()), Label1(*dialog)->width());
}

// With the desktop's font at any size, the dialog takes that font and grows with it, so that
// no fixed text is cut.
class InviteDialogFontTest : public ::testing::TestWithParam<int> {};

TEST_P(InviteDialogFontTest, TakesTheFontInUseAndEveryTextFits) {
    const TApplicationFontScope font{static_cast<qreal>(GetParam())};
    InviteDialogScope scope;
    const TFormInvite& d = *scope.dialog;
    EXPECT_EQ(d.font().pointSizeF(), GetParam());
    for (const QWidget* control :
         std::initializer_list<const QWidget*>{Label1(d), Label2(d), Button1(d), Button2(d)}) {
        const QString text = qobject_cast<const QLabel*>(control) != nullptr
                                 ? qobject_cast<const QLabel*>(control)->text()
                                 : qobject_cast<const QAbstractButton*>(control)->text();
        EXPECT_LE(TextAdvance(control, text), TextRoom(control)) << text.toStdString();
    }
    EXPECT_LE(Label2(d)->fontMetrics().lineSpacing() * 5, Label2(d)->height());
    const QString title = GroupBox2(d)->title();
    EXPECT_LE(GroupBox2(d)->fontMetrics().horizontalAdvance(title), GroupBox2(d)->width() - 16);
    EXPECT_GE(Edit1(d)->height(), Edit1(d)->minimumSizeHint().height()) << "the edit's text shows";
}

INSTANTIATE_TEST_SUITE_P(Points, InviteDialogFontTest, ::testing::Values(8, 11, 14),
                         [](const auto& info) { return std::to_string(info.param) + "pt"; });

TEST_F(InviteDialogTest, TabGoesFromTheIdToInviteCancelAndTheList) {
    std::vector<QString> order;
    QWidget* widget = Edit1(*dialog);
    for (int i = 0; i < 5; ++i) {
        order.push_back(widget->objectName());
        do {
            widget = widget->nextInFocusChain();
        } while (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isEnabled());
    }
    EXPECT_THAT(order, ElementsAre(QStringLiteral("Edit1"), QStringLiteral("Button1"),
                                   QStringLiteral("Button2"), QStringLiteral("LV"),
                                   QStringLiteral("Edit1")));
}

struct TRefusal {
    const char* Name;
    bool Getting;
    int Rows;
    const char* Id;
    bool Tick;
    const char* Message;
};

class InviteRefusalTest : public InviteDialogTest,
                          public ::testing::WithParamInterface<TRefusal> {};

TEST_P(InviteRefusalTest, ShowsItsMessageAndStaysOpen) {
    const TRefusal& c = GetParam();
    for (int i = 0; i < c.Rows; ++i) {
        dialog->AppendHostRow(QStringLiteral("HOST%1").arg(i), 10 + i);
    }
    if (c.Tick) {
        Tick(0);
    }
    Edit1(*dialog)->setText(QString::fromLatin1(c.Id));
    dialog->SetGettingHostList(c.Getting);

    Button1(*dialog)->click();

    ASSERT_EQ(boxes.Requests().size(), 1u);
    const TMessageBoxRequest& box = boxes.Requests()[0];
    EXPECT_EQ(box.Text, QString::fromLatin1(c.Message));
    EXPECT_EQ(box.Caption, QStringLiteral("Corvale"));
    EXPECT_EQ(box.Icon, TMsgIcon::None);
    EXPECT_EQ(box.Buttons, TMsgButtons::OK);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_THAT(finished, IsEmpty());
    // No check leaves a result behind, not even the last one, which collects the ticked rows.
    EXPECT_EQ(dialog->InvitedHostIDs(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InviteRefusalTest,
    ::testing::Values(
        TRefusal{"ListBeingFilled", true, 2, "bob", true, "Getting host list in progress !"},
        TRefusal{"NoRowsWithId", false, 0, "bob", false,
                 "You have no one host computer to offer !"},
        TRefusal{"NoRowsNoId", false, 0, "", false, "You have no one host computer to offer !"},
        TRefusal{"NoIdTicked", false, 2, "", true, "You must specify the buddy's ID !"},
        TRefusal{"NoIdNothingTicked", false, 2, "", false, "You must specify the buddy's ID !"},
        TRefusal{"NothingTicked", false, 2, "bob", false,
                 "You have not specify any host computer to offer to your buddy !"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(InviteDialogTest, TickedRowsGiveTheirNumbersInListOrder) {
    dialog->AppendHostRow(QStringLiteral("OFFICE-PC"), 12);
    dialog->AppendHostRow(QStringLiteral("HOME"), 25);
    dialog->AppendHostRow(QStringLiteral("LAPTOP"), 40);
    Edit1(*dialog)->setText(QStringLiteral("alice"));
    Tick(2);
    Tick(0);
    Button1(*dialog)->click();
    EXPECT_THAT(boxes.Requests(), IsEmpty());
    EXPECT_EQ(dialog->InvitedHostIDs(), "12,40");
    EXPECT_THAT(finished, ElementsAre(QDialog::Accepted));
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(InviteDialogTest, OneTickedRowHasNoSeparator) {
    dialog->AppendHostRow(QStringLiteral("OFFICE-PC"), 12);
    dialog->AppendHostRow(QStringLiteral("LAPTOP"), 40);
    Edit1(*dialog)->setText(QStringLiteral("alice"));
    Tick(1);
    Button1(*dialog)->click();
    EXPECT_EQ(dialog->InvitedHostIDs(), "40");
    EXPECT_THAT(finished, ElementsAre(QDialog::Accepted));
}

TEST_F(InviteDialogTest, NegativeNumbersKeepTheirSign) {
    dialog->AppendHostRow(QStringLiteral("A"), -7);
    dialog->AppendHostRow(QStringLiteral("B"), 2147483647);
    Edit1(*dialog)->setText(QStringLiteral("alice"));
    Tick(0);
    Tick(1);
    Button1(*dialog)->click();
    EXPECT_EQ(dialog->InvitedHostIDs(), "-7,2147483647");
}

TEST_F(InviteDialogTest, AnIdOfBlanksIsAcceptedAsTyped) {
    dialog->AppendHostRow(QStringLiteral("OFFICE-PC"), 12);
    Tick(0);
    QTest::keyClicks(Edit1(*dialog), QStringLiteral("   "));
    Button1(*dialog)->click();
    EXPECT_THAT(boxes.Requests(), IsEmpty());
    EXPECT_THAT(finished, ElementsAre(QDialog::Accepted));
    EXPECT_EQ(Edit1(*dialog)->text(), QStringLiteral("   "));
}

TEST_F(InviteDialogTest, EnterPressesInvite) {
    QTest::keyClick(Edit1(*dialog), Qt::Key_Return);
    ASSERT_EQ(boxes.Requests().size(), 1u);
    EXPECT_EQ(boxes.Requests()[0].Text, QStringLiteral("You have no one host computer to offer !"));
}

TEST_F(InviteDialogTest, CancelEscapeAndTheCloseBoxGiveCancel) {
    const std::vector<std::pair<const char*, std::function<void(TFormInvite&)>>> ways = {
        {"Cancel", [](TFormInvite& d) { Button2(d)->click(); }},
        {"Escape", [](TFormInvite& d) { QTest::keyClick(Edit1(d), Qt::Key_Escape); }},
        {"CloseBox", [](TFormInvite& d) { d.close(); }},
    };
    for (const auto& [name, close] : ways) {
        SCOPED_TRACE(name);
        auto d = std::make_unique<TFormInvite>(nullptr);
        std::vector<int> results;
        QObject::connect(d.get(), &QDialog::finished, d.get(),
                         [&results](int result) { results.push_back(result); });
        d->AppendHostRow(QStringLiteral("OFFICE-PC"), 12);
        Edit1(*d)->setText(QStringLiteral("alice"));
        Tick(*d, 0);
        d->show();
        close(*d);
        EXPECT_FALSE(d->isVisible());
        EXPECT_THAT(results, ElementsAre(QDialog::Rejected));
        EXPECT_TRUE(d->InvitedHostIDs().empty());
    }
    EXPECT_THAT(boxes.Requests(), IsEmpty());
}

} // namespace
