#pragma once

#include "FenraCore/FenraIcon.h"
#include "FenraSettings/SettingsPane.h"
#include "FenraSettings/SettingsRow.h"

#include <QCheckBox>
#include <QVBoxLayout>

#include <optional>

namespace kelto {

// A pane whose content is a form of the given row titles, counting how
// often it was built.
inline SettingsPane testPane(const QString& id, const QString& title, const SettingsGroup& group,
                             QStringList rows = {}, QStringList terms = {}, int* built = nullptr,
                             FenraIcon symbol = FenraIcon::folder, TileTint tint = TileTint::cobalt) {
    return SettingsPane(id, title, symbol, tint, group, std::move(terms), [rows, built] {
        if (built != nullptr) {
            ++*built;
        }
        auto* form = new QWidget;
        form->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        auto* layout = new QVBoxLayout(form);
        layout->setContentsMargins(20, 0, 20, 0);
        for (const QString& row : rows) {
            layout->addWidget(new SettingsRow(row, std::nullopt, [] { return new QCheckBox; }));
        }
        return form;
    });
}

inline SettingsGroup group(const char* id, std::optional<QString> title = std::nullopt) {
    return SettingsGroup{QString::fromLatin1(id), std::move(title)};
}

}  // namespace kelto
