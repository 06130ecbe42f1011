// The tray icon's properties: what each write sends to the shell, the tip, the image list
// index, cycling and forgetting removed components.

#include "shell/components/ImageList.h"
#include "shell/components/SysTrayIcon.h"
#include "support/FakeTrayShell.h"
#include "tests/support/QtWait.h"

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing_support::RunEventsFor;
using testing_support::WaitFor;
using N = TNotifyMessage;

namespace {

QIcon Solid(Qt::GlobalColor color) {
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

// The same picture: QIcon copies share their data.
bool SameIcon(const QIcon& a, const QIcon& b) {
    return a.cacheKey() == b.cacheKey();
}

class TrayPropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        tray = std::make_unique<TSysTrayIcon>(&form, TFakeTrayShell::For(shell));
        images = new TImageList(&form);
        for (const Qt::GlobalColor color : {Qt::red, Qt::green, Qt::blue}) {
            pictures.push_back(Solid(color));
            images->Add(pictures.back());
        }
    }

    TTrayShellLog shell;
    QWidget form;
    std::unique_ptr<TSysTrayIcon> tray;
    TImageList* images = nullptr;
    std::vector<QIcon> pictures;
};

TEST_F(TrayPropertiesTest, StartsWithTheInitialValuesAndNoShellCall) {
    EXPECT_FALSE(tray->DesignPreview());
    EXPECT_EQ(tray->IconList(), nullptr);
    EXPECT_FALSE(tray->CycleIcons());
    EXPECT_EQ(tray->CycleInterval(), 0u);
    EXPECT_TRUE(tray->Enabled());
    EXPECT_TRUE(tray->Hint().isEmpty());
    EXPECT_FALSE(tray->ShowHint());
    EXPECT_TRUE(tray->Icon().isNull());
    EXPECT_TRUE(tray->IconVisible());
    EXPECT_EQ(tray->IconIndex(), 0);
    EXPECT_EQ(tray->PopupMenu(), nullptr);
    EXPECT_FALSE(tray->LeftPopup());
    EXPECT_FALSE(tray->StartMinimized());
    EXPECT_FALSE(tray->MinimizeToTray());
    EXPECT_THAT(shell.Calls, IsEmpty());
}

TEST_F(TrayPropertiesTest, LoadedAddsTheIconAndDestructionDeletesIt) {
    tray->SetIcon(pictures[0]);
    tray->Loaded();
    tray.reset();
    EXPECT_THAT(shell.Messages(), ElementsAre(N::Modify, N::Modify, N::Add, N::Delete));
    EXPECT_TRUE(SameIcon(shell.Calls[2].Data.Icon, pictures[0]));
}

TEST_F(TrayPropertiesTest, LoadedLeavesAHiddenIconAway) {
    tray->SetIconVisible(false);
    shell.Calls.clear();
    tray->Loaded();
    EXPECT_THAT(shell.Messages(), ElementsAre(N::Modify, N::Delete));
}

TEST_F(TrayPropertiesTest, IconVisibleRecordsTheRequestEvenWhenRefused) {
    shell.Accept = false;
    EXPECT_FALSE(tray->AddTrayIcon());
    EXPECT_TRUE(tray->IconVisible());
    tray->SetIconVisible(false);
    EXPECT_FALSE(tray->IconVisible());
    shell.Accept = true;
    EXPECT_TRUE(tray->ModifyTrayIcon());
    EXPECT_FALSE(tray->IconVisible());
    EXPECT_THAT(shell.Messages(), ElementsAre(N::Add, N::Delete, N::Modify));
}

// The preview switch asks the shell through IconVisible's write, but leaves the recorded
// request alone: afterwards IconVisible still says what the program last asked for.
TEST_F(TrayPropertiesTest, DesignPreviewSwitchesTheIconButKeepsIconVisible) {
    struct TCase {
        bool StartVisible;
        bool Preview;
        TNotifyMessage Sent;
    };
    for (const TCase c : {TCase{true, false, N::Delete}, TCase{true, true, N::Add},
                          TCase{false, true, N::Add}, TCase{false, false, N::Delete}}) {
        SCOPED_TRACE(testing::Message()
                     << "visible " << c.StartVisible << ", preview " << c.Preview);
        tray->SetIconVisible(c.StartVisible);
        shell.Calls.clear();
        tray->SetDesignPreview(c.Preview);
        EXPECT_EQ(tray->DesignPreview(), c.Preview);
        EXPECT_EQ(tray->IconVisible(), c.StartVisible);
        EXPECT_THAT(shell.Messages(), ElementsAre(c.Sent));
        // The next ordinary write records again.
        tray->SetIconVisible(!c.StartVisible);
        EXPECT_EQ(tray->IconVisible(), !c.StartVisible);
    }
}

TEST_F(TrayPropertiesTest, IconIsCopiedAndSent) {
    QIcon mine = pictures[1];
    tray->SetIcon(mine);
    mine = pictures[2];
    EXPECT_TRUE(SameIcon(tray->Icon(), pictures[1]));
    EXPECT_TRUE(SameIcon(shell.Last().Data.Icon, pictures[1]));
}

struct TTipCase {
    const char* Name;
    QString Hint;
    bool ShowHint;
    QString Tip;
};

class TrayTipTest : public TrayPropertiesTest, public ::testing::WithParamInterface<TTipCase> {};

TEST_P(TrayTipTest, TipFollowsHintAndShowHint) {
    tray->SetShowHint(GetParam().ShowHint);
    tray->SetHint(GetParam().Hint);
    EXPECT_EQ(shell.Last().Message, N::Modify);
    EXPECT_EQ(shell.Last().Data.Tip, GetParam().Tip);
    EXPECT_EQ(tray->Hint(), GetParam().Hint); // the property keeps the whole text
}

const QString k70 = QString(QStringLiteral("0123456789")).repeated(7);
// 62 letters and a character outside the basic plane, which takes two UTF-16 units.
const QString kSurrogateAt63 =
    QString(62, QLatin1Char('a')) + QString::fromUtf8("\xF0\x9F\x98\x80") + QStringLiteral("tail");

INSTANTIATE_TEST_SUITE_P(
    Cases, TrayTipTest,
    ::testing::Values(TTipCase{"Short", QStringLiteral("Corvale"), true, QStringLiteral("Corvale")},
                      TTipCase{"SeventyCutTo63", k70, true, k70.left(63)},
                      TTipCase{"Exactly63", k70.left(63), true, k70.left(63)},
                      TTipCase{"ShowHintOff", QStringLiteral("Corvale"), false, QString()},
                      TTipCase{"EmptyHint", QString(), true, QString()},
                      TTipCase{"NeverSplitsACharacter", kSurrogateAt63, true,
                               QString(62, QLatin1Char('a'))}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TrayPropertiesTest, ShowHintSwitchesTheTipAtOnce) {
    tray->SetHint(QStringLiteral("0.3.11.25: 1.2.3.4"));
    EXPECT_EQ(shell.Last().Data.Tip, QString());
    tray->SetShowHint(true);
    EXPECT_EQ(shell.Last().Data.Tip, QStringLiteral("0.3.11.25: 1.2.3.4"));
}

struct TIndexCase {
    const char* Name;
    int ListSize;
    std::int32_t Written;
    std::int32_t Stored;
    int Picture; // -1: no picture
};

class TrayIconIndexTest : public TrayPropertiesTest,
                          public ::testing::WithParamInterface<TIndexCase> {};

TEST_P(TrayIconIndexTest, ClampsAtTheTopOnly) {
    const TIndexCase& c = GetParam();
    TImageList list;
    for (int i = 0; i < c.ListSize; ++i) {
        list.Add(pictures[static_cast<std::size_t>(i)]);
    }
    tray->SetIconList(&list);
    tray->SetIconIndex(c.Written);
    EXPECT_EQ(tray->IconIndex(), c.Stored);
    if (c.Picture < 0) {
        EXPECT_TRUE(tray->Icon().isNull());
    } else {
        EXPECT_TRUE(SameIcon(tray->Icon(), pictures[static_cast<std::size_t>(c.Picture)]));
    }
    EXPECT_EQ(shell.Last().Message, N::Modify);
    tray->SetIconList(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, TrayIconIndexTest,
                         ::testing::Values(TIndexCase{"InRange", 3, 1, 1, 1},
                                           TIndexCase{"PastTheEnd", 3, 7, 2, 2},
                                           TIndexCase{"AtCount", 3, 3, 2, 2},
                                           TIndexCase{"EmptyList", 0, 0, -1, -1},
                                           TIndexCase{"NegativeStays", 3, -4, -4, -1}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TrayPropertiesTest, IconIndexWithoutListIsZero) {
    tray->SetIconIndex(5);
    EXPECT_EQ(tray->IconIndex(), 0);
    EXPECT_EQ(shell.Last().Message, N::Modify);
}

TEST_F(TrayPropertiesTest, NewIconListShowsItsFirstImage) {
    tray->SetIconList(images);
    EXPECT_EQ(tray->IconIndex(), 0);
    EXPECT_TRUE(SameIcon(tray->Icon(), pictures[0]));
    EXPECT_TRUE(SameIcon(shell.Last().Data.Icon, pictures[0]));
}

TEST_F(TrayPropertiesTest, CycleStepsWrapToTheFirstImage) {
    std::vector<std::int32_t> next;
    tray->OnCycle = [&](TSysTrayIcon* sender, std::int32_t index) {
        EXPECT_EQ(sender, tray.get());
        next.push_back(index);
    };
    tray->SetIconList(images);
    tray->SetIconIndex(1);
    shell.Calls.clear();

    tray->CycleStep(); // shows image 1, moves to 2
    tray->CycleStep(); // shows image 2, moves to 0
    EXPECT_THAT(next, ElementsAre(2, 0));
    EXPECT_EQ(tray->IconIndex(), 0);
    ASSERT_EQ(shell.Calls.size(), 4u);
    EXPECT_TRUE(SameIcon(shell.Calls[2].Data.Icon, pictures[2]));
    EXPECT_TRUE(SameIcon(shell.Calls[3].Data.Icon, pictures[0]));
}

TEST_F(TrayPropertiesTest, CycleStepWithoutListDoesNothing) {
    bool cycled = false;
    tray->OnCycle = [&](TSysTrayIcon*, std::int32_t) { cycled = true; };
    tray->CycleStep();
    EXPECT_FALSE(cycled);
    EXPECT_THAT(shell.Calls, IsEmpty());
}

TEST_F(TrayPropertiesTest, CycleTimerTicksThroughTheList) {
    std::vector<std::int32_t> next;
    tray->OnCycle = [&](TSysTrayIcon*, std::int32_t index) { next.push_back(index); };
    tray->SetIconList(images);
    tray->SetIconIndex(2);
    tray->SetCycleInterval(1);
    tray->SetCycleIcons(true); // starts again from the first image
    ASSERT_TRUE(WaitFor([&] { return next.size() >= 4; }));
    tray->SetCycleIcons(false);
    EXPECT_THAT(std::vector(next.begin(), next.begin() + 4), ElementsAre(1, 2, 0, 1));
}

TEST_F(TrayPropertiesTest, ZeroCycleIntervalNeverTicks) {
    int ticks = 0;
    tray->OnCycle = [&](TSysTrayIcon*, std::int32_t) { ++ticks; };
    tray->SetIconList(images);
    tray->SetCycleIcons(true);
    auto* timer = tray->findChild<QTimer*>(QStringLiteral("CycleTimer"));
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive());
    RunEventsFor(std::chrono::milliseconds(50));
    EXPECT_EQ(ticks, 0);

    tray->SetCycleInterval(1000);
    EXPECT_TRUE(timer->isActive());
    tray->SetCycleInterval(0);
    EXPECT_FALSE(timer->isActive());
    tray->SetCycleInterval(1000);
    tray->SetCycleIcons(false);
    EXPECT_FALSE(timer->isActive());
}

TEST_F(TrayPropertiesTest, RemovedImageListIsForgotten) {
    tray->SetIconList(images);
    tray->SetIconIndex(2);
    shell.Calls.clear();
    delete images;
    EXPECT_EQ(tray->IconList(), nullptr);
    EXPECT_EQ(tray->IconIndex(), 0);
    EXPECT_THAT(shell.Messages(), ElementsAre(N::Modify));
    tray->CycleStep(); // must not reach the freed list
}

TEST_F(TrayPropertiesTest, ReplacedImageListIsNoLongerWatched) {
    TImageList other;
    other.Add(pictures[1]);
    tray->SetIconList(images);
    tray->SetIconList(&other);
    delete images;
    EXPECT_EQ(tray->IconList(), &other);
    tray->SetIconList(nullptr);
}

} // namespace
