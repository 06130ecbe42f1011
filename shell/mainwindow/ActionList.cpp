#include "shell/mainwindow/ActionList.h"

#include "shell/components/ImageList.h"
#include "shell/components/MessageBox.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <exception>

namespace {

// The events after which an update rule may see something new. Timer and paint events are
// left out on purpose: counting them would re-arm the timer for ever.
bool MayChangeWhatRulesSee(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::FocusIn:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::WindowActivate:
    case QEvent::WindowStateChange:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

} // namespace

void RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowApplicationErrorAsync(QString::fromUtf8(error.what()));
    }
}

TActionList::TActionList(QObject* owner, const TImageList* images)
    : QObject(owner), images_(images) {
    idle_.setSingleShot(true);
    idle_.setInterval(0);
    connect(&idle_, &QTimer::timeout, this, &TActionList::UpdateActions);
    qApp->installEventFilter(this);
}

TActionList::~TActionList() {
    qApp->removeEventFilter(this);
}

QAction* TActionList::Add(const TActionDef& def, std::function<void()> execute,
                          std::function<void()> update) {
    auto* action = new QAction(def.Caption, this);
    action->setObjectName(QString::fromLatin1(def.Name));
    action->setProperty("category", QString::fromLatin1(def.Category));
    action->setToolTip(def.Hint.isEmpty() ? def.Caption : def.Hint);
    action->setStatusTip(def.Hint);
    action->setCheckable(def.Checkable);
    if (def.ImageIndex >= 0 && images_) {
        action->setIcon(images_->Icon(def.ImageIndex));
    }
    // Executing an action may change what the rules see, and it need not come with input:
    // assistive technology and other programs trigger actions without any.
    connect(action, &QAction::triggered, this, [this, execute = std::move(execute)] {
        RunHandler(execute);
        ScheduleUpdate();
    });
    if (update) {
        updates_.push_back(std::move(update));
    }
    return action;
}

void TActionList::UpdateActions() {
    for (const auto& update : updates_) {
        RunHandler(update);
    }
}

void TActionList::ScheduleUpdate() {
    if (!idle_.isActive()) {
        idle_.start();
    }
}

void TActionList::WatchMenu(QMenu* menu) {
    connect(menu, &QMenu::aboutToShow, this, &TActionList::UpdateActions);
}

bool TActionList::eventFilter(QObject* watched, QEvent* event) {
    if (MayChangeWhatRulesSee(event->type())) {
        ScheduleUpdate();
    }
    return QObject::eventFilter(watched, event);
}
