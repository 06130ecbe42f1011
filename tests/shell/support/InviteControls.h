#pragma once
// The invite dialog's controls, found by their object names.

#include "shell/components/fInvite.h"
#include "support/Controls.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

inline QGroupBox* GroupBox1(const TFormInvite& d) {
    return Control<QGroupBox>(d, "GroupBox1");
}
inline QGroupBox* GroupBox2(const TFormInvite& d) {
    return Control<QGroupBox>(d, "GroupBox2");
}
inline QLabel* Label1(const TFormInvite& d) {
    return Control<QLabel>(d, "Label1");
}
inline QLabel* Label2(const TFormInvite& d) {
    return Control<QLabel>(d, "Label2");
}
inline QLabel* Image1(const TFormInvite& d) {
    return Control<QLabel>(d, "Image1");
}
inline QLineEdit* Edit1(const TFormInvite& d) {
    return Control<QLineEdit>(d, "Edit1");
}
inline QPushButton* Button1(const TFormInvite& d) {
    return Control<QPushButton>(d, "Button1");
}
inline QPushButton* Button2(const TFormInvite& d) {
    return Control<QPushButton>(d, "Button2");
}
inline QTableWidget* LV(const TFormInvite& d) {
    return Control<QTableWidget>(d, "LV");
}
