#pragma once

#include <QString>

#include <optional>

namespace kelto {

// A pane of the privacy settings. No Linux desktop has such panes; the
// anchors stay so that destinations keep their meaning.
enum class PrivacyAnchor { screenCapture, allFiles, accessibility };

namespace PrivacyAnchors {
QString rawValue(PrivacyAnchor anchor);
std::optional<PrivacyAnchor> fromRawValue(const QString& rawValue);
}  // namespace PrivacyAnchors

}  // namespace kelto
