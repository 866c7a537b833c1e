#pragma once

#include "FenraCore/Binding.h"

#include <QString>

class QWidget;

namespace kelto {

// The settings search query, handed down the widget tree as an inherited
// setting is: a widget (the settings shell) provides it for itself and
// everything below it, and a row reads the nearest one above it. A widget
// with no provider above it reads "".
struct SettingsSearchQuery {
    // Replaces what `provider` provided before, if anything.
    static void provide(QWidget& provider, Binding<QString>& query);
    // The nearest query at or above `widget`, or null.
    static Binding<QString>* find(const QWidget& widget);
    static QString value(const QWidget& widget);
};

}  // namespace kelto
