#pragma once

#include "FenraCore/FenraSymbol.h"
#include "FenraCore/TileTint.h"
#include "FenraSettings/SettingsGroup.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <utility>

namespace kelto {

// One entry of the settings sidebar. Title and search terms are shown and
// searched exactly as given, already in the user's language. `content`
// builds the pane's widgets afresh at every call, on the main thread; the
// constructor never calls it, so a list of panes costs no widgets. Panes are
// identified by `id` and have no equality.
struct SettingsPane {
    QString id;
    QString title;
    QString symbolName;
    TileTint tint = TileTint::cobalt;
    SettingsGroup group;
    QStringList searchTerms;
    std::function<std::unique_ptr<QWidget>()> content;

    // `build` returns a new widget, as a raw or a unique pointer.
    template <class Build>
    SettingsPane(QString id, QString title, const FenraSymbol auto& symbol, TileTint tint, SettingsGroup group,
                 QStringList searchTerms, Build build)
        : id(std::move(id)),
          title(std::move(title)),
          symbolName(symbolNameOf(symbol)),
          tint(tint),
          group(std::move(group)),
          searchTerms(std::move(searchTerms)),
          content([build = std::move(build)]() { return std::unique_ptr<QWidget>(build()); }) {}
};

}  // namespace kelto
