#pragma once

#include "FenraCore/Binding.h"

#include <QObject>
#include <QPointer>

namespace kelto {

// The child object by which a widget provides the search query.
class SettingsSearchQueryHolder : public QObject {
    Q_OBJECT

public:
    SettingsSearchQueryHolder(Binding<QString>& query, QObject* parent);

    Binding<QString>* query() const { return query_; }
    void setQuery(Binding<QString>& query) { query_ = &query; }

private:
    QPointer<Binding<QString>> query_;
};

}  // namespace kelto
