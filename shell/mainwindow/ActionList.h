#pragma once
// The window's commands as actions: each with its name, category, caption, hint and image,
// an execute handler and, where it has one, an update rule. Update rules run when the window
// thread becomes idle and right before a menu that shows them opens. "Idle" is one
// single-shot zero timer, armed when something the rules depend on may have changed (input,
// focus, show and hide, or the owner asking for it), never a repeating timer, so an idle
// program uses no processor time.

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

class QAction;
class QMenu;
class TImageList;

struct TActionDef {
    const char* Name;     // object name, findable with findChild
    const char* Category; // kept as the action's "category" property
    QString Caption;
    QString Hint;        // tool tip and status tip; empty for none
    int ImageIndex = -1; // index into the image list; -1 for none
    bool Checkable = false;
};

class TActionList : public QObject {
    Q_OBJECT

public:
    TActionList(QObject* owner, const TImageList* images);
    ~TActionList() override;

    // `execute` runs when the action is triggered (for a checkable action after its checked
    // state has flipped). An error it raises is shown in the application's error box and
    // ends the handler there. `update` is the action's update rule; empty for none.
    QAction* Add(const TActionDef& def, std::function<void()> execute,
                 std::function<void()> update = {});

    // Runs every update rule now.
    void UpdateActions();
    // Runs the update rules once the window thread has handled what is waiting now.
    void ScheduleUpdate();
    // Runs the update rules right before `menu` opens.
    void WatchMenu(QMenu* menu);

    bool IsUpdateScheduledForTests() const { return idle_.isActive(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const TImageList* images_;
    QTimer idle_;
    std::vector<std::function<void()>> updates_;
};

// Runs a window handler; an error it raises is shown in the application's error box (without
// waiting for the box) and ends the handler at that step.
void RunHandler(const std::function<void()>& handler);
