#pragma once

#include <algorithm>

namespace kelto {

// The layout constants of the settings window, in device-independent pixels.
struct SettingsShellMetrics {
    static constexpr int sidebarMinimumWidth = 210;
    static constexpr int sidebarIdealWidth = 232;
    static constexpr int sidebarMaximumWidth = 280;
    static constexpr int rowHeight = 34;
    static constexpr int tileSide = 22;
    static constexpr int labelFontSize = 14;
    static constexpr int tileLabelSpacing = 10;
    static constexpr int rowTrailingInset = 10;
    // Between a heading's text and the bottom of its row, so that it sits
    // with the panes under it.
    static constexpr int headingBottomInset = 8;
    static constexpr int gapHeight = 12;
    static constexpr int sidebarTopPadding = 52;
    static constexpr int searchHorizontalPadding = 10;
    static constexpr int searchHeight = 30;
    static constexpr int listTopInset = 12;
    static constexpr int detailTopPadding = 32;
    // The paddings above are measured from the top of a window whose toolbar
    // area the columns run up under. A window here has its title bar above
    // its content and no toolbar area, so this much of them is already spent.
    static constexpr int toolbarAreaHeight = 52;
    // What is left of them starts both columns a search field's padding
    // below the title bar.
    static constexpr int contentTop() {
        return std::max(std::max(sidebarTopPadding, detailTopPadding) - toolbarAreaHeight, searchHorizontalPadding);
    }
};

}  // namespace kelto
