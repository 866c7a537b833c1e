#pragma once

// A Qt header first: moc's parser stumbles over <concepts>.
#include <QDBusMessage>
#include <QObject>
#include <QPalette>
#include <QString>

#include "FenraCore/ColorScheme.h"

namespace kelto {

// The application's style is the kit's on every desktop, and its palette the
// kit's in the desktop's light or dark preference, read and watched through
// the settings portal's "color-scheme"; without a preference (or a portal)
// the platform theme's palette decides between light and dark.
class DesktopAppearance : public QObject {
    Q_OBJECT
public:
    // The portal's values.
    enum class Preference : uint { none = 0, dark = 1, light = 2 };

    explicit DesktopAppearance(QObject* parent = nullptr);

    // Sets the kit's style, reads the preference on the session bus, applies
    // it and follows its changes. Without a bus or portal the kit's palette
    // takes the platform palette's light or dark.
    void start();
    Preference preference() const { return preference_; }
    void apply(Preference preference);
    // The desktop's own light or dark: its preference, else the platform
    // theme's. What the desktop draws in it (the tray's panel) follows this,
    // whatever look the application shows.
    ColorScheme desktopScheme() const;

    // The palette for a preference; `platform` for none.
    static QPalette palette(Preference preference, const QPalette& platform);
    static Preference fromPortal(uint value);

signals:
    void desktopSchemeChanged(ColorScheme scheme);

private slots:
    void settingChanged(const QDBusMessage& message);

private:
    Preference preference_ = Preference::none;
    QPalette platform_;
};

}  // namespace kelto
