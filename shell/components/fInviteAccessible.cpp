// The names assistive technology reads for the invite dialog's controls where their caption
// does not say it: the picture, the host list, the edit box (its label ends in a colon) and
// the group box without a caption.

#include "shell/components/fInvite.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

void TFormInvite::NameControlsForAssistiveTechnology() {
    GroupBox1->setAccessibleName(QStringLiteral("Invitation"));
    GroupBox2->setAccessibleName(GroupBox2->title().trimmed());
    Image1->setAccessibleName(QStringLiteral("Invitation picture"));
    Label2->setAccessibleName(Label2->text().simplified());
    Edit1->setAccessibleName(QStringLiteral("Your Buddy's ID"));
    LV->setAccessibleName(QStringLiteral("Visible hosts"));
    LV->setAccessibleDescription(QStringLiteral("The hosts this buddy may see; tick them"));
}
