// Entry of the widget tests: the program's application object on the offscreen platform (unless
// the environment names another), then every test.
#include "Application.h"

#include <QByteArray>
#include <QtGlobal>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    sorvanto::TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
