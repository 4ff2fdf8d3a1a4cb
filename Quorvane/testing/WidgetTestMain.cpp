// The main of the app's widget tests and screenshot renders: a QApplication (offscreen in the test runs) with
// the app's translations and a fixed style and font, so that renders look the same on every machine.
#include <QApplication>
#include <QFont>

#include "platform/qt/Localizable.h"
#include "platform/testing/TestEnvironment.h"

int main(int argc, char** argv) {
    testsupport::preparePrivateHome();
    QApplication::setStyle("Fusion");
    QApplication app(argc, argv);
    QApplication::setFont(QFont("DejaVu Sans", 10));
    platform::installTranslations();
    return testsupport::runAllTests(argc, argv);
}
