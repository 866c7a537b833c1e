#pragma once

#include "FenraSettings/SettingsPane.h"

#include <QString>

#include <vector>

namespace kelto {

// The settings search. Nothing is cached: every call folds afresh.
struct SettingsSearch {
    // Case and accents removed the same way in every locale: canonical
    // decomposition without non-spacing marks, case folding, and the stroke
    // letters đ and Đ as d.
    static QString fold(const QString& text);
    // Whether the folded text holds the trimmed, folded query as one
    // contiguous phrase. A query of nothing but white space matches nothing.
    static bool matches(const QString& text, const QString& query);
    // The panes whose title or one of whose search terms matches, in their
    // order; every pane when the trimmed query is empty.
    static std::vector<SettingsPane> filter(const std::vector<SettingsPane>& panes, const QString& query);
};

}  // namespace kelto
