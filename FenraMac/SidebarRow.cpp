#include "FenraMac/SidebarRow.h"

namespace kelto {

SidebarRow SidebarRow::pane(const SettingsPane& pane) {
    return SidebarRow{Kind::pane, pane.title, pane.id, pane.symbolName, pane.tint};
}

SidebarRow SidebarRow::heading(const QString& title) {
    return SidebarRow{Kind::heading, title, {}, {}, TileTint::cobalt};
}

SidebarRow SidebarRow::empty(const QString& text) {
    return SidebarRow{Kind::empty, text, {}, {}, TileTint::cobalt};
}

SidebarRow SidebarRow::gap() {
    return SidebarRow{};
}

bool operator==(const SidebarRow& a, const SidebarRow& b) {
    if (a.kind != b.kind) {
        return false;
    }
    switch (a.kind) {
    case SidebarRow::Kind::pane:
        return a.paneId == b.paneId && a.text == b.text && a.symbolName == b.symbolName && a.tint == b.tint;
    case SidebarRow::Kind::heading:
    case SidebarRow::Kind::empty:
        return a.text == b.text;
    case SidebarRow::Kind::gap:
        return true;
    }
    return false;
}

}  // namespace kelto
