// The changes the tasks make to the main window (window thread; see fMainWindowOps.cpp).

#include "shell/components/SysTrayIcon.h"
#include "shell/mainwindow/ActionList.h"
#include "shell/mainwindow/StatusPanels.h"
#include "shell/mainwindow/fMain.h"

#include <QAction>
#include <QTableWidget>
#include <QTimer>

void TCorvaleFormMain::StopCheckTimer() {
    Timer1->stop();
}

void TCorvaleFormMain::RestartCheckTimerIfActive() {
    if (actActive->isChecked()) {
        Timer1->start();
    } else {
        Timer1->stop();
    }
}

bool TCorvaleFormMain::IsActiveChecked() const {
    return actActive->isChecked();
}

int TCorvaleFormMain::BuddyRowCount() const {
    return LV2->rowCount();
}

void TCorvaleFormMain::ScheduleActionUpdate() {
    ActionList1->ScheduleUpdate();
}

void TCorvaleFormMain::AppendHistoryRow(const QString& address, const QString& dateTime) {
    const int row = LV1->rowCount();
    LV1->insertRow(row);
    LV1->setItem(row, 0, new QTableWidgetItem(QString::number(row + 1)));
    LV1->setItem(row, 1, new QTableWidgetItem(address));
    LV1->setItem(row, 2, new QTableWidgetItem(dateTime));
}

void TCorvaleFormMain::SetStatusText(TStatusBar bar, int panel, const QString& text) {
    (bar == TStatusBar::SB1 ? SB1 : SB2)->SetPanelText(panel, text);
}

void TCorvaleFormMain::SetTrayHint(const QString& hint) {
    SysTrayIcon1->SetHint(hint);
}

// Bulk updates may overlap (two fetches at once); the list repaints when the last one ends.
void TCorvaleFormMain::BeginBuddyList() {
    if (buddyListUpdates_++ == 0) {
        LV2->setUpdatesEnabled(false);
    }
    LV2->setRowCount(0);
}

void TCorvaleFormMain::AppendBuddyRow(const QString& userId, const QString& host,
                                      const QString& address, const QString& dateTime) {
    const int row = LV2->rowCount();
    LV2->insertRow(row);
    const QString cells[] = {QString::number(row + 1), userId, host, address, dateTime};
    for (int column = 0; column < 5; ++column) {
        LV2->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
}

void TCorvaleFormMain::EndBuddyList() {
    if (buddyListUpdates_ > 0 && --buddyListUpdates_ == 0) {
        LV2->setUpdatesEnabled(true);
    }
}
