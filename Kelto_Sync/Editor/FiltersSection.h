#pragma once

#include "Kelto_Sync/Editor/EditorSection.h"

#include <string>
#include <vector>

class QCheckBox;
class QPlainTextEdit;
class QTextDocument;

namespace kelto {

// "Filters": the default exclusions switch and the user's exclude patterns,
// one per line. Every edit of the text stores its lines exactly as typed.
class FiltersSection : public EditorSection {
public:
    FiltersSection(SyncStrings strings, Report report, QWidget* parent = nullptr);

    // The patterns joined by line feeds, none at the end.
    static QString patternsText(const std::vector<std::string>& patterns);
    // k line feeds give k + 1 patterns; nothing is trimmed.
    static std::vector<std::string> patterns(const QString& text);
    // The document's text with its own line and paragraph breaks as line
    // feeds. Unlike toPlainText() this keeps non-breaking spaces.
    static QString rawText(const QTextDocument& document);

    QCheckBox* defaultExcludesSwitch() const { return defaults_; }
    QPlainTextEdit* patternEditor() const { return editor_; }

protected:
    void refresh() override;

private:
    QCheckBox* defaults_;
    QPlainTextEdit* editor_;
};

}  // namespace kelto
