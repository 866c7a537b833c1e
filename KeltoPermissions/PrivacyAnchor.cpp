#include "KeltoPermissions/PrivacyAnchor.h"

namespace kelto::PrivacyAnchors {

QString rawValue(PrivacyAnchor anchor) {
    switch (anchor) {
    case PrivacyAnchor::screenCapture: return QStringLiteral("Privacy_ScreenCapture");
    case PrivacyAnchor::allFiles: return QStringLiteral("Privacy_AllFiles");
    case PrivacyAnchor::accessibility: return QStringLiteral("Privacy_Accessibility");
    }
    return {};
}

std::optional<PrivacyAnchor> fromRawValue(const QString& rawValue) {
    for (PrivacyAnchor anchor : {PrivacyAnchor::screenCapture, PrivacyAnchor::allFiles, PrivacyAnchor::accessibility}) {
        if (PrivacyAnchors::rawValue(anchor) == rawValue) return anchor;
    }
    return std::nullopt;
}

}  // namespace kelto::PrivacyAnchors
