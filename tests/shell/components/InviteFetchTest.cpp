// The host-list fetch and the invite dialog: started once when shown, filling the list from
// a task thread, and leaving a dialog that is gone alone.

#include "shell/components/fInvite.h"
#include "support/InviteFixture.h"
#include "tests/support/QtWait.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <atomic>
#include <chrono>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing_support::WaitFor;

namespace {

// A task thread that works through the link the way the host-list fetch does, pausing where
// the test tells it to.
class TFakeFetch {
public:
    explicit TFakeFetch(TInviteDialogLink link)
        : thread_([this, link = std::move(link)] {
              link->SetGettingHostList(true);
              started_.set_value();
              proceed_.get_future().wait();
              link->BeginHostList();
              link->AppendHostRow("OFFICE-PC", 12);
              link->AppendHostRow("LAPTOP", 40);
              link->EndHostList();
              link->SetGettingHostList(false);
              done_ = true;
          }) {}
    ~TFakeFetch() {
        Proceed();
        WaitDone(); // the task may be waiting for the window thread
        thread_.join();
    }

    bool WaitStarted() {
        auto started = started_.get_future();
        return WaitFor(
            [&] { return started.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    }
    void Proceed() {
        if (!proceeded_.exchange(true)) {
            proceed_.set_value();
        }
    }
    bool WaitDone() {
        return WaitFor([&] { return done_.load(); });
    }

private:
    std::promise<void> started_;
    std::promise<void> proceed_;
    std::atomic<bool> proceeded_{false};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

TEST_F(InviteDialogTest, ShowingStartsOneFetchForTheDialog) {
    ASSERT_EQ(fetches.size(), 1u);
    dialog->hide();
    dialog->show();
    EXPECT_EQ(fetches.size(), 1u);
}

TEST_F(InviteDialogTest, FetchFillsTheListFromItsThread) {
    TFakeFetch fetch(fetches.at(0));
    ASSERT_TRUE(fetch.WaitStarted());
    EXPECT_TRUE(dialog->IsGettingHostList()); // set on the window thread before the task went on

    Edit1(*dialog)->setText(QStringLiteral("alice"));
    Button1(*dialog)->click();
    ASSERT_EQ(boxes.Requests().size(), 1u);
    EXPECT_EQ(boxes.Requests()[0].Text, QStringLiteral("Getting host list in progress !"));

    fetch.Proceed();
    ASSERT_TRUE(fetch.WaitDone());
    EXPECT_FALSE(dialog->IsGettingHostList());
    ASSERT_EQ(LV(*dialog)->rowCount(), 2);
    EXPECT_EQ(LV(*dialog)->item(0, 0)->text(), QStringLiteral("OFFICE-PC"));
    EXPECT_EQ(LV(*dialog)->item(1, 0)->text(), QStringLiteral("LAPTOP"));
    EXPECT_EQ(dialog->HostNumber(0), 12);
    EXPECT_EQ(dialog->HostNumber(1), 40);
    EXPECT_EQ(LV(*dialog)->item(0, 0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(LV(*dialog)->item(1, 0)->checkState(), Qt::Unchecked);
    EXPECT_TRUE(LV(*dialog)->updatesEnabled());
}

TEST_F(InviteDialogTest, FetchReplacesEarlierRows) {
    dialog->AppendHostRow(QStringLiteral("OLD"), 1);
    TFakeFetch fetch(fetches.at(0));
    fetch.Proceed();
    ASSERT_TRUE(fetch.WaitDone());
    EXPECT_EQ(LV(*dialog)->rowCount(), 2);
    EXPECT_EQ(LV(*dialog)->item(0, 0)->text(), QStringLiteral("OFFICE-PC"));
}

TEST_F(InviteDialogTest, FetchThatEndsAfterTheDialogIsGoneTouchesNothing) {
    TFakeFetch fetch(fetches.at(0));
    ASSERT_TRUE(fetch.WaitStarted());
    Button2(*dialog)->click();
    EXPECT_THAT(finished, ElementsAre(QDialog::Rejected));
    dialog.reset(); // the caller frees the dialog while the fetch still waits

    fetch.Proceed();
    EXPECT_TRUE(fetch.WaitDone()); // every call returned without a dialog to change
    EXPECT_THAT(boxes.Requests(), IsEmpty());
}

// The window thread handles no event from the moment the dialog goes (as at the end of the
// program): the waiting task must be released by the dialog's going alone.
TEST_F(InviteDialogTest, TaskWaitingForTheWindowThreadIsReleasedWhenTheDialogGoes) {
    const TInviteDialogLink link = fetches.at(0);
    std::promise<void> calling;
    std::atomic<bool> returned{false};
    std::thread task([&] {
        calling.set_value();
        link->AppendHostRow("LATE", 1);
        returned = true;
    });
    calling.get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load()) << "the change was made off the window thread";

    dialog.reset();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!returned.load() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(returned.load()) << "the task still waits for a dialog that is gone";
    while (!returned.load()) {
        QCoreApplication::processEvents(); // let a blocked task go so the test can end
    }
    task.join();
    QCoreApplication::processEvents(); // a call still queued finds nothing to change
}

TEST_F(InviteDialogTest, LinkCalledOnTheWindowThreadActsAtOnce) {
    const TInviteDialogLink link = fetches.at(0);
    link->SetGettingHostList(true);
    EXPECT_TRUE(dialog->IsGettingHostList());
    link->BeginHostList();
    link->AppendHostRow("LAPTOP", 40);
    link->EndHostList();
    EXPECT_EQ(LV(*dialog)->rowCount(), 1);

    dialog.reset();
    link->SetGettingHostList(false); // nothing left to change, and no crash
    link->AppendHostRow("LATE", 1);
}

TEST_F(InviteDialogTest, HostNamesKeepTheirCharacters) {
    const TInviteDialogLink link = fetches.at(0);
    link->AppendHostRow("B\xC3\xBCro-PC", 3); // "Büro-PC" in UTF-8
    EXPECT_EQ(LV(*dialog)->item(0, 0)->text(), QString::fromUtf8("B\xC3\xBCro-PC"));
}

} // namespace
