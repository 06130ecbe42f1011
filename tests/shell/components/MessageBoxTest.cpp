// The message-box seam: boxes on screen when no hook is installed, the hook's answers, and
// the framework's error text.

#include "shell/components/MessageBox.h"

#include "support/MessageBoxRecorder.h"
#include "tests/support/QtWait.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing_support::WaitFor;

namespace {

QMessageBox* OpenBox() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

TEST(MessageBoxTest, ModalBoxShowsTheRequestAndAnswersTheButtonPressed) {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        QMessageBox* box = OpenBox();
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        EXPECT_EQ(box->parentWidget(), nullptr);
        box->button(QMessageBox::Yes)->click();
    });
    const TMsgAnswer answer =
        ShowMessageBox({QStringLiteral("Sure ?"), QStringLiteral("Exclude buddy"), TMsgIcon::None,
                        TMsgButtons::YesNo});
    EXPECT_EQ(answer, TMsgAnswer::Yes);
    EXPECT_EQ(caption, QStringLiteral("Exclude buddy"));
    EXPECT_EQ(text, QStringLiteral("Sure ?"));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
}

TEST(MessageBoxTest, EscapeAnswersNo) {
    QTimer::singleShot(0, [] {
        QMessageBox* box = OpenBox();
        ASSERT_NE(box, nullptr);
        box->reject();
    });
    EXPECT_EQ(ShowMessageBox({QStringLiteral("?"), QStringLiteral("Updates"), TMsgIcon::None,
                              TMsgButtons::YesNo}),
              TMsgAnswer::No);
}

TEST(MessageBoxTest, AsyncBoxLeavesTheWindowThreadFreeAndReportsTheAnswer) {
    std::vector<TMsgAnswer> answers;
    ShowMessageBoxAsync({QStringLiteral("ERR -001:Server timeout !"), QStringLiteral("Error"),
                         TMsgIcon::None, TMsgButtons::OK},
                        [&](TMsgAnswer answer) { answers.push_back(answer); });
    QMessageBox* box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = OpenBox()) != nullptr; }));
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Error"));
    EXPECT_TRUE(answers.empty());
    box->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(WaitFor([&] { return !answers.empty(); }));
    EXPECT_THAT(answers, ::testing::ElementsAre(TMsgAnswer::OK));
}

TEST(MessageBoxTest, HookAnswersWithoutABox) {
    TMessageBoxRecorder boxes(TMsgAnswer::Yes);
    std::optional<TMsgAnswer> async;
    EXPECT_EQ(ShowMessageBox({QStringLiteral("a"), QStringLiteral("b"), TMsgIcon::Question,
                              TMsgButtons::YesNo}),
              TMsgAnswer::Yes);
    ShowMessageBoxAsync(
        {QStringLiteral("c"), QStringLiteral("d"), TMsgIcon::None, TMsgButtons::YesNo},
        [&](TMsgAnswer answer) { async = answer; });
    ShowPlainMessage(QStringLiteral("plain"));
    EXPECT_EQ(async, TMsgAnswer::Yes);
    ASSERT_EQ(boxes.Requests().size(), 3u);
    EXPECT_EQ(boxes.Requests()[2].Text, QStringLiteral("plain"));
    EXPECT_EQ(boxes.Requests()[2].Caption, QStringLiteral("Corvale"));
    EXPECT_EQ(boxes.Requests()[2].Icon, TMsgIcon::None);
    EXPECT_EQ(OpenBox(), nullptr);
}

TEST(MessageBoxTest, ApplicationErrorIsCaptionedWithTheTitleAndEndsInAFullStop) {
    TMessageBoxRecorder boxes;
    ShowApplicationError(QStringLiteral("Unable to write to /x/corvale.ini"));
    ASSERT_EQ(boxes.Requests().size(), 1u);
    EXPECT_EQ(boxes.Requests()[0].Text, QStringLiteral("Unable to write to /x/corvale.ini."));
    EXPECT_EQ(boxes.Requests()[0].Caption, QStringLiteral("Corvale"));
    EXPECT_EQ(boxes.Requests()[0].Icon, TMsgIcon::Error);
}

TEST(MessageBoxTest, FullStopOnlyAfterACharacterThatSortsAfterIt) {
    const std::vector<std::pair<QString, QString>> cases = {
        {QStringLiteral("'x' is not a valid integer value"),
         QStringLiteral("'x' is not a valid integer value.")},
        {QStringLiteral("Done."), QStringLiteral("Done.")},
        {QStringLiteral("Server timeout !"), QStringLiteral("Server timeout !")},
        {QStringLiteral("code 7"), QStringLiteral("code 7.")},
        {QStringLiteral("list,"), QStringLiteral("list,")},
        {QStringLiteral("path/"), QStringLiteral("path/.")},
        {QString(), QString()},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(ApplicationErrorText(text), shown) << text.toStdString();
    }
}

} // namespace
