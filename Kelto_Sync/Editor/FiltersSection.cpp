#include "Kelto_Sync/Editor/FiltersSection.h"

#include "FenraSettings/SettingsRow.h"
#include "Kelto_Sync/Editor/EditorNote.h"
#include "Kelto_Sync/SecondaryText.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QStringList>
#include <QTextDocument>
#include <QVBoxLayout>

namespace kelto {

FiltersSection::FiltersSection(SyncStrings strings, Report report, QWidget* parent)
    : EditorSection(strings, std::move(report), parent) {
    auto* column = new QVBoxLayout(this);
    auto* header = new QLabel(text("Filters"), this);
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);
    column->addWidget(header);

    defaults_ = new QCheckBox;
    defaults_->setAccessibleName(text("Exclude macOS system files"));
    connect(defaults_, &QCheckBox::clicked, this, [this](bool on) {
        SyncJob next = job();
        next.filters.useDefaultExcludes = on;
        this->report(next);
    });
    column->addWidget(new SettingsRow(defaults_->accessibleName(), std::nullopt, [this] { return defaults_; }));

    auto* caption = new QLabel(text("Exclude patterns — one rsync pattern per line"), this);
    column->addWidget(caption);
    editor_ = new QPlainTextEdit(this);
    editor_->setAccessibleName(text("Exclude patterns"));
    editor_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    editor_->setMinimumHeight(75);
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
        SyncJob next = job();
        next.filters.patterns = patterns(rawText(*editor_->document()));
        this->report(next);
    });
    column->addWidget(editor_, 1);
    auto* note = new QLabel(text("The reserved .KeltoSync folder is always excluded."), this);
    SecondaryText::apply(note);
    EditorNote::apply(note);
    column->addWidget(note);
    refresh();
}

QString FiltersSection::patternsText(const std::vector<std::string>& patterns) {
    QStringList lines;
    for (const std::string& pattern : patterns) {
        lines << QString::fromStdString(pattern);
    }
    return lines.join(QLatin1Char('\n'));
}

std::vector<std::string> FiltersSection::patterns(const QString& text) {
    std::vector<std::string> result;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::KeepEmptyParts)) {
        result.push_back(line.toStdString());
    }
    return result;
}

QString FiltersSection::rawText(const QTextDocument& document) {
    QString text = document.toRawText();
    text.replace(QChar(0x2029), QLatin1Char('\n'));
    text.replace(QChar(0x2028), QLatin1Char('\n'));
    return text;
}

void FiltersSection::refresh() {
    defaults_->setChecked(job().filters.useDefaultExcludes);
    const QString wanted = patternsText(job().filters.patterns);
    // The editor already showing these lines is left alone, cursor and all;
    // an empty list reads as the empty text until the user edits it.
    if (rawText(*editor_->document()) != wanted) {
        const QSignalBlocker quiet(editor_);
        editor_->setPlainText(wanted);
    }
}

}  // namespace kelto
