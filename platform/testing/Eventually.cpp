#include "platform/testing/Eventually.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace testsupport {

void runPendingEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace testsupport
