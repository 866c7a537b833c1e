// The main of every widget test binary: one QApplication, offscreen unless
// the caller chose a platform, with the application's style and palette and
// a fixed font, so that metrics and colours do not depend on the desktop the
// tests run on.
#include "FenraCore/FenraStyle.h"

#include <QApplication>
#include <QFont>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        // Test discovery needs no application.
        return RUN_ALL_TESTS();
    }
    // Each test process keeps its settings to itself: ctest runs the tests
    // of one binary side by side, and none may see the user's.
    QTemporaryDir settings;
    for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, settings.path());
    }
    QApplication app(argc, argv);
    QApplication::setStyle(new kelto::FenraStyle);
    QApplication::setPalette(kelto::FenraStyle::palette(kelto::ColorScheme::light));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    QApplication::setFont(font);
    return RUN_ALL_TESTS();
}
