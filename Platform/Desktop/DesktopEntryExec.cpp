#include "Platform/Desktop/DesktopEntryExec.h"

namespace kelto {
namespace {

bool needsQuotes(const QString& argument) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (argument.isEmpty()) return true;
    for (const QChar c : argument) {
        if (reserved.contains(c)) return true;
    }
    return false;
}

QString quoteArgument(const QString& argument) {
    QString text;
    const bool quoted = needsQuotes(argument);
    if (quoted) text.append(u'"');
    for (const QChar c : argument) {
        if (c == u'%') {
            text.append(QStringLiteral("%%"));
        } else if (quoted && (c == u'"' || c == u'`' || c == u'$' || c == u'\\')) {
            text.append(u'\\').append(c);
        } else {
            text.append(c);
        }
    }
    if (quoted) text.append(u'"');
    return text;
}

// The string escapes every desktop entry value has.
QString escapeValue(const QString& text) {
    QString value;
    for (const QChar c : text) {
        if (c == u'\\') value.append(QStringLiteral("\\\\"));
        else if (c == u'\n') value.append(QStringLiteral("\\n"));
        else if (c == u'\t') value.append(QStringLiteral("\\t"));
        else if (c == u'\r') value.append(QStringLiteral("\\r"));
        else value.append(c);
    }
    return value;
}

QString unescapeValue(const QString& value) {
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != u'\\' || i + 1 == value.size()) {
            text.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        if (next == u's') text.append(u' ');
        else if (next == u'n') text.append(u'\n');
        else if (next == u't') text.append(u'\t');
        else if (next == u'r') text.append(u'\r');
        else if (next == u'\\') text.append(u'\\');
        else text.append(c).append(next);
    }
    return text;
}

// "%%" is a percent sign; any other "%x" is a field code we do not expand.
// An argument that was nothing but field codes goes away.
std::optional<QString> withoutFieldCodes(const QString& argument, bool quoted) {
    QString text;
    bool hadCode = false;
    for (qsizetype i = 0; i < argument.size(); ++i) {
        if (argument.at(i) != u'%' || i + 1 == argument.size()) {
            text.append(argument.at(i));
        } else if (argument.at(i + 1) == u'%') {
            text.append(u'%');
            ++i;
        } else {
            hadCode = true;
            ++i;
        }
    }
    if (hadCode && text.isEmpty() && !quoted) return std::nullopt;
    return text;
}

}  // namespace

QString DesktopEntryExec::quote(const QStringList& command) {
    QStringList arguments;
    for (const QString& argument : command) {
        arguments.append(quoteArgument(argument));
    }
    return escapeValue(arguments.join(u' '));
}

std::optional<QStringList> DesktopEntryExec::parse(const QString& value) {
    const QString text = unescapeValue(value);
    QStringList command;
    QString argument;
    bool inArgument = false;
    bool inQuotes = false;
    bool quoted = false;
    auto finish = [&] {
        if (inArgument) {
            if (auto kept = withoutFieldCodes(argument, quoted)) command.append(*kept);
        }
        argument.clear();
        inArgument = quoted = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (inQuotes) {
            if (c == u'"') {
                inQuotes = false;
            } else if (c == u'\\' && i + 1 < text.size() &&
                       QStringLiteral("\"`$\\").contains(text.at(i + 1))) {
                argument.append(text.at(++i));
            } else {
                argument.append(c);
            }
        } else if (c == u' ' || c == u'\t' || c == u'\n') {
            finish();
        } else if (c == u'"') {
            inQuotes = inArgument = quoted = true;
        } else {
            argument.append(c);
            inArgument = true;
        }
    }
    if (inQuotes) return std::nullopt;
    finish();
    return command;
}

}  // namespace kelto
