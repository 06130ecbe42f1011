#include "tests/support/QtWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace testing_support {

void RunEventsFor(std::chrono::milliseconds period) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < period.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

} // namespace testing_support
