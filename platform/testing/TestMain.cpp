// The main of every test executable that needs no widgets (those link Quorvane/testing's main).
#include <QCoreApplication>

#include "TestEnvironment.h"

int main(int argc, char** argv) {
    testsupport::preparePrivateHome();
    QCoreApplication app(argc, argv);
    return testsupport::runAllTests(argc, argv);
}
