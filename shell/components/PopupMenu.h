#pragma once
// A popup menu with the switch that lets it open on its own (when off, neither a mouse button
// nor a default-item double click opens or runs anything) and a record of the component it
// was last opened for. Its default item is QMenu's default action.

#include <QMenu>
#include <QPointer>

class TPopupMenu : public QMenu {
    Q_OBJECT

public:
    explicit TPopupMenu(QWidget* parent = nullptr) : QMenu(parent) {}

    bool AutoPopup() const { return autoPopup_; }
    void SetAutoPopup(bool value) { autoPopup_ = value; }

    QObject* PopupComponent() const { return popupComponent_; }
    void SetPopupComponent(QObject* component) { popupComponent_ = component; }

private:
    bool autoPopup_ = true;
    QPointer<QObject> popupComponent_;
};
