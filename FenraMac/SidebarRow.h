#pragma once

#include "FenraCore/TileTint.h"
#include "FenraSettings/SettingsPane.h"

#include <QString>

namespace kelto {

// One row of the settings sidebar: a pane, a group's heading, the single
// "No results" row, or the gap before every group but the first. Pane rows
// compare by the pane's id, title, symbol and tint only (its group, terms
// and content do not show); heading and empty rows by their text.
struct SidebarRow {
    enum class Kind { pane, heading, empty, gap };

    Kind kind = Kind::gap;
    // The pane's title, the heading or the "No results" text.
    QString text;
    QString paneId;
    QString symbolName;
    TileTint tint = TileTint::cobalt;

    static SidebarRow pane(const SettingsPane& pane);
    static SidebarRow heading(const QString& title);
    static SidebarRow empty(const QString& text);
    static SidebarRow gap();

    friend bool operator==(const SidebarRow& a, const SidebarRow& b);
};

}  // namespace kelto
