#include "FenraSettings/SettingsSearch.h"

#include <algorithm>

namespace kelto {

QString SettingsSearch::fold(const QString& text) {
    const QList<uint> decomposed = text.normalized(QString::NormalizationForm_D).toUcs4();
    QList<uint> bare;
    bare.reserve(decomposed.size());
    for (const uint codePoint : decomposed) {
        if (QChar::category(static_cast<char32_t>(codePoint)) != QChar::Mark_NonSpacing) {
            bare.push_back(codePoint);
        }
    }
    // Composed again so that what the marks leave (Hangul syllables, say)
    // compares whole.
    QString folded = QString::fromUcs4(reinterpret_cast<const char32_t*>(bare.constData()), bare.size())
                         .normalized(QString::NormalizationForm_C)
                         .toCaseFolded();
    folded.replace(QChar(0x0111), QLatin1Char('d'));
    folded.replace(QChar(0x0110), QLatin1Char('d'));
    return folded;
}

bool SettingsSearch::matches(const QString& text, const QString& query) {
    const QString phrase = fold(query.trimmed());
    if (phrase.isEmpty()) {
        return false;
    }
    return fold(text).contains(phrase);
}

std::vector<SettingsPane> SettingsSearch::filter(const std::vector<SettingsPane>& panes, const QString& query) {
    if (query.trimmed().isEmpty()) {
        return panes;
    }
    std::vector<SettingsPane> kept;
    for (const SettingsPane& pane : panes) {
        const auto matchesQuery = [&](const QString& text) { return matches(text, query); };
        if (matchesQuery(pane.title) || std::any_of(pane.searchTerms.begin(), pane.searchTerms.end(), matchesQuery)) {
            kept.push_back(pane);
        }
    }
    return kept;
}

}  // namespace kelto
