// The main window's settings: the settings environment, what the Options page shows and
// saves, the column widths and the effects of the settings on the window (the check timer,
// stay on top).

#include "core/uCfg.h"
#include "core/uEndpoint.h"
#include "platform/System.h"
#include "shell/components/WindowTimer.h"
#include "shell/mainwindow/OptionsSheet.h"
#include "shell/mainwindow/fMain.h"

#include <QAction>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>

namespace {

// The settings keep design pixels, so that a stored width reads back the same at any font.
TColumnWidths ColumnWidths(const QTableWidget* list, const TDesignScale& scale) {
    TColumnWidths widths;
    for (int i = 0; i < list->columnCount(); ++i) {
        widths.push_back(scale.DesignX(list->columnWidth(i)));
    }
    return widths;
}

void SetColumnWidths(QTableWidget* list, const TColumnWidths& widths, const TDesignScale& scale) {
    const int count = std::min(list->columnCount(), static_cast<int>(widths.size()));
    for (int i = 0; i < count; ++i) {
        list->setColumnWidth(i, scale.X(widths[static_cast<std::size_t>(i)]));
    }
}

} // namespace

TSettingsEnv TCorvaleFormMain::SettingsEnv() {
    return TSettingsEnv{
        Cfg.IniFile,
        setup_.ProgramPath.empty() ? platform::ExecutablePath() : setup_.ProgramPath,
        Vars,
        [this](std::uint32_t periodMs) { RestartCheckTimer(periodMs); },
        [this](bool onTop) { ApplyStayOnTop(onTop); },
    };
}

TListWidths TCorvaleFormMain::ListWidths() const {
    return TListWidths{ColumnWidths(LV1, design_), ColumnWidths(LV2, design_)};
}

void TCorvaleFormMain::ApplyListWidths(const TListWidths& widths) {
    SetColumnWidths(LV1, widths.IP, design_);
    SetColumnWidths(LV2, widths.Buddies, design_);
}

void TCorvaleFormMain::SaveColumns() {
    ::SaveColumns(SettingsEnv(), ListWidths());
}

void TCorvaleFormMain::RestartCheckTimer(std::uint32_t periodMs) {
    Timer1->stop();
    Timer1->setInterval(WindowTimerPeriod(periodMs));
    if (actActive->isChecked()) {
        Timer1->start();
    }
}

void TCorvaleFormMain::ApplyStayOnTop(bool onTop) {
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) {
        return;
    }
    // A visible window is hidden by a change of its flags; it comes back as it was.
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (wasVisible) {
        show();
    }
}

void TCorvaleFormMain::ShowOptions() {
    TabSheet3->Show(OptionsFromSettings(Settings, Vars));
}

// The service is stored last, so the service client takes it only from a Save that stored it.
void TCorvaleFormMain::ApplyOptions() {
    ::ApplyOptions(SettingsEnv(), Settings, TabSheet3->Read());
    SetServiceEndpoint(Settings.Service);
}
