#pragma once
// An invite dialog on screen whose host-list fetch is caught by the test, with every message
// box answered and recorded.

#include "shell/components/fInvite.h"
#include "support/InviteControls.h"
#include "support/MessageBoxRecorder.h"

#include <QTableWidget>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

// A dialog on screen for a scope, with its host-list fetch caught.
struct InviteDialogScope {
    InviteDialogScope() {
        SetHostListFetchStarter([](TInviteDialogLink) {});
        dialog = std::make_unique<TFormInvite>(nullptr);
        dialog->show();
    }
    ~InviteDialogScope() {
        dialog.reset();
        SetHostListFetchStarter({});
    }
    std::unique_ptr<TFormInvite> dialog;
};

class InviteDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHostListFetchStarter([this](TInviteDialogLink link) { fetches.push_back(link); });
        dialog = std::make_unique<TFormInvite>(nullptr);
        QObject::connect(dialog.get(), &QDialog::finished, dialog.get(),
                         [this](int result) { finished.push_back(result); });
        dialog->show();
    }
    void TearDown() override {
        dialog.reset();
        SetHostListFetchStarter({});
    }

    static void Tick(TFormInvite& d, int row) { LV(d)->item(row, 0)->setCheckState(Qt::Checked); }
    void Tick(int row) { Tick(*dialog, row); }

    TMessageBoxRecorder boxes;
    std::vector<TInviteDialogLink> fetches;
    std::unique_ptr<TFormInvite> dialog;
    std::vector<int> finished; // the results the dialog's end gave, in order
};
