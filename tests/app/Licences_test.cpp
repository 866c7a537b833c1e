#include <QFile>
#include <QStringDecoder>

#include <gtest/gtest.h>

namespace {

// The licence text the bundle ships holds the notice of every component it
// ships, as that component's own files word it, and reads as UTF-8.
TEST(BundledLicences, EveryShippedComponentsNoticeIsInTheLicenceText) {
    QFile file(QStringLiteral(KELTO_BUNDLE_DIR "/Contents/Resources/Licenses/COPYING"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(file.readAll());
    ASSERT_FALSE(decoder.hasError());
    // Words each notice holds: the GPL (rsync), the LGPL and Qt's notices,
    // the compiled-in symbols' MIT notice, then each library's notice.
    for (const char* words : {"GNU GENERAL PUBLIC LICENSE", "GNU LESSER GENERAL PUBLIC LICENSE", "Andrew Tridgell",
                              "qtbase-everywhere-src", "qtsvg-everywhere-src", "Copyright (c) 2020-2026 Paweł Kuna",
                              "Unicode, Inc.", "Niels Lohmann", "Public Software Group", "util-linux", "Frank Denis",
                              "Victor Zverovich", "Howard Hinnant", "D. Richard Hipp"}) {
        EXPECT_TRUE(text.contains(QString::fromUtf8(words))) << words;
    }
}

}  // namespace
