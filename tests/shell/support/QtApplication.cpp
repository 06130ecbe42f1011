// One QApplication for the whole test program, on the offscreen platform unless the test
// command chose another. Compiled into each GUI test program.

#include "tests/support/QtApplicationEnvironment.h"

#include <QApplication>

namespace {

void ChooseOffscreenUnlessSet() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

void NameTheProgram() {
    QApplication::setApplicationName(QStringLiteral("Corvale"));
    QApplication::setApplicationDisplayName(QStringLiteral("Corvale"));
}

const auto* const registered = testing_support::RegisterQtApplication<QApplication>(
    "corvale-tests", ChooseOffscreenUnlessSet, NameTheProgram);

} // namespace
