#include "FenraSettings/internal/SettingsSearchQueryHolder.h"

namespace kelto {

SettingsSearchQueryHolder::SettingsSearchQueryHolder(Binding<QString>& query, QObject* parent)
    : QObject(parent), query_(&query) {}

}  // namespace kelto
