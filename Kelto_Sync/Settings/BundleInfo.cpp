#include "Kelto_Sync/Settings/BundleInfo.h"

#include "Kelto_Sync/SyncAppBundleMarker.h"

#include <QFileInfo>
#include <QSettings>

#include <exception>

namespace kelto {
namespace {

QString contentsFolder() {
    try {
        return QString::fromStdString((SyncAppBundleMarker::bundleRoot() / "Contents").string());
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

BundleInfo BundleInfo::read(const QString& iniPath) {
    if (!QFileInfo(iniPath).isFile()) return {};
    QSettings ini(iniPath, QSettings::IniFormat);
    const auto text = [&](const char* key) {
        const QVariant value = ini.value(QString::fromLatin1(key));
        return value.typeId() == QMetaType::QString ? value.toString() : QString();
    };
    return {text("Bundle/version"), text("Bundle/build"), text("Updates/feed")};
}

BundleInfo BundleInfo::application() {
    const QString contents = contentsFolder();
    return contents.isEmpty() ? BundleInfo{} : read(contents + QStringLiteral("/Info.ini"));
}

QString BundleInfo::licensesFolder() {
    const QString contents = contentsFolder();
    return contents.isEmpty() ? QString() : contents + QStringLiteral("/Resources/Licenses");
}

}  // namespace kelto
