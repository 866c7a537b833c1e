#pragma once

#include <QString>

#include <ostream>

QT_BEGIN_NAMESPACE
// Failures show texts as text; lists of them follow.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE
