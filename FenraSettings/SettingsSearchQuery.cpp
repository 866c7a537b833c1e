#include "FenraSettings/SettingsSearchQuery.h"

#include "FenraSettings/internal/SettingsSearchQueryHolder.h"

#include <QWidget>

namespace kelto {
namespace {

SettingsSearchQueryHolder* holderOf(const QWidget& widget) {
    return widget.findChild<SettingsSearchQueryHolder*>(QString(), Qt::FindDirectChildrenOnly);
}

}  // namespace

void SettingsSearchQuery::provide(QWidget& provider, Binding<QString>& query) {
    if (SettingsSearchQueryHolder* holder = holderOf(provider)) {
        holder->setQuery(query);
    } else {
        new SettingsSearchQueryHolder(query, &provider);
    }
}

Binding<QString>* SettingsSearchQuery::find(const QWidget& widget) {
    for (const QWidget* level = &widget; level != nullptr; level = level->parentWidget()) {
        const SettingsSearchQueryHolder* holder = holderOf(*level);
        if (holder != nullptr && holder->query() != nullptr) {
            return holder->query();
        }
    }
    return nullptr;
}

QString SettingsSearchQuery::value(const QWidget& widget) {
    const Binding<QString>* query = find(widget);
    return query != nullptr ? query->get() : QString();
}

}  // namespace kelto
