#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace kelto {

// The Exec key of a desktop entry, as the file holds it: arguments quoted
// where they carry reserved characters, "%" doubled, and then, because the
// value is a string, each backslash escaped once more.
struct DesktopEntryExec {
    static QString quote(const QStringList& command);
    // The command a value runs, field codes (%f, %U …) left out; none when
    // a quote is left open.
    static std::optional<QStringList> parse(const QString& value);
};

}  // namespace kelto
