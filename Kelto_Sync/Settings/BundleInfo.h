#pragma once

#include <QString>

namespace kelto {

// What the bundle's Contents/Info.ini says of the build. A missing file or
// key reads as an empty text.
struct BundleInfo {
    QString shortVersion;
    QString buildNumber;
    // Where update checks look; empty when the build named none.
    QString updateFeedURL;

    static BundleInfo read(const QString& iniPath);
    // The running application's bundle.
    static BundleInfo application();
    static QString licensesFolder();
};

}  // namespace kelto
