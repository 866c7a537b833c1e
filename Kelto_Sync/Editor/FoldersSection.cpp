#include "Kelto_Sync/Editor/FoldersSection.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/PaletteTone.h"
#include "FenraCore/SymbolImage.h"
#include "FenraSettings/SettingsRow.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/Editor/FolderPicker.h"
#include "Kelto_Sync/internal/PaletteFollower.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncModel/Support/Unicode.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QThreadPool>
#include <QVBoxLayout>

#include <exception>

namespace kelto {

namespace {

const char* const notUtf8 = "The folder's name is not valid UTF-8, so it cannot be stored.";

}  // namespace

FoldersSection::Services FoldersSection::Services::system() {
    return Services{[](const std::filesystem::path& folder) { return VolumeInspector::endpoint(folder); },
                    [](std::function<void()> work) { QThreadPool::globalInstance()->start(std::move(work)); },
                    &FolderPicker::dialog()};
}

FoldersSection::FoldersSection(SyncStrings strings, Report report, Services services, QWidget* parent)
    : EditorSection(strings, std::move(report), parent), services_(std::move(services)) {
    auto* column = new QVBoxLayout(this);
    auto* header = new QLabel(text("Folders"), this);
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);
    column->addWidget(header);
    source_ = new FolderSideRow(
        text("Source (A)"), [this] { choose(Side::source); },
        [this](const QList<QUrl>& urls) { return drop(Side::source, urls); }, this);
    destination_ = new FolderSideRow(
        text("Destination (B)"), [this] { choose(Side::destination); },
        [this](const QList<QUrl>& urls) { return drop(Side::destination, urls); }, this);
    column->addWidget(source_);
    column->addWidget(destination_);
    swap_ = new QPushButton(text("Swap"), this);
    PaletteFollower::follow(swap_, [](QWidget& drawn) {
        static_cast<QPushButton&>(drawn).setIcon(
            SymbolImage::icon(FenraIcon::sort, drawn.palette().color(QPalette::Active, QPalette::ButtonText)));
    });
    connect(swap_, &QPushButton::clicked, this, [this] { this->report(swapped(job())); });
    column->addWidget(swap_, 0, Qt::AlignLeft);
    issues_ = new QWidget(this);
    issuesLayout_ = new QVBoxLayout(issues_);
    issuesLayout_->setContentsMargins(0, 0, 0, 0);
    column->addWidget(issues_);
    error_ = new QLabel(this);
    error_->setTextFormat(Qt::PlainText);
    error_->setWordWrap(true);
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    PaletteTone::apply(error_, FenraTheme::error());
    column->addWidget(error_);
    refresh();
}

void FoldersSection::setValidation(const std::vector<ValidationIssue>& errors) {
    validation_ = errors;
    refresh();
}

bool FoldersSection::isFolderIssue(ValidationIssue issue) {
    switch (issue) {
    case ValidationIssue::missingSource:
    case ValidationIssue::missingDestination:
    case ValidationIssue::samePath:
    case ValidationIssue::nested:
    case ValidationIssue::destinationReadOnly:
    case ValidationIssue::twoWayReadOnly: return true;
    default: return false;
    }
}

std::optional<QString> FoldersSection::droppedFolder(const QList<QUrl>& urls) {
    if (urls.isEmpty() || !urls.constFirst().isLocalFile()) {
        return std::nullopt;
    }
    const QString path = urls.constFirst().toLocalFile();
    if (!QFileInfo(path).isDir()) {
        return std::nullopt;
    }
    return path;
}

SyncJob FoldersSection::swapped(SyncJob job) {
    std::swap(job.source, job.destination);
    return job;
}

QString FoldersSection::subtitle(const Endpoint& side, const SyncStrings& strings, const QLocale& locale) {
    if (side.path.empty()) {
        return strings.text(QStringLiteral("Choose or drop a folder"), locale);
    }
    QStringList lines{QString::fromStdString(side.path)};
    if (const QString volume = DisplayFormat::volumeName(side.volume); !volume.isEmpty()) lines << volume;
    return lines.join(QLatin1Char('\n'));
}

QString FoldersSection::startFolder(const Endpoint& side) {
    const QString folder = QFile::decodeName(QByteArray::fromStdString(side.path));
    return !side.path.empty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

void FoldersSection::choose(Side side) {
    if (!services_.picker) return;
    const Endpoint& current = side == Side::source ? job().source : job().destination;
    if (const auto folder = services_.picker->chooseFolder(this, text("Choose folder"), startFolder(current))) {
        apply(side, *folder);
    }
}

bool FoldersSection::drop(Side side, const QList<QUrl>& urls) {
    const auto folder = droppedFolder(urls);
    if (!folder) return false;
    apply(side, *folder);
    return true;
}

void FoldersSection::apply(Side side, const QString& folder) {
    const std::uint64_t generation = ++generation_[static_cast<std::size_t>(side)];
    // Qt decodes a file name that is not UTF-8 lossily; the bytes it would
    // give back name another file, so such a name is refused outright.
    const QByteArray bytes = QFile::encodeName(folder);
    if (folder.contains(QChar::ReplacementCharacter) ||
        !Unicode::isValidUtf8(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))) {
        finish(side, generation, Outcome{std::nullopt, text(notUtf8)});
        return;
    }
    const QString refusal = text(notUtf8);
    QPointer<FoldersSection> target(this);
    services_.runInBackground([lookup = services_.endpoint, path = std::filesystem::path(bytes.toStdString()), target,
                               side, generation, refusal] {
        Outcome outcome;
        try {
            Endpoint endpoint = lookup(path);
            if (Unicode::isValidUtf8(endpoint.path)) {
                outcome.endpoint = std::move(endpoint);
            } else {
                outcome.error = refusal;
            }
        } catch (const std::exception& error) {
            outcome.error = QString::fromUtf8(error.what());
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [target, side, generation, outcome] {
                if (target) target->finish(side, generation, outcome);
            },
            Qt::QueuedConnection);
    });
}

void FoldersSection::finish(Side side, std::uint64_t generation, const Outcome& outcome) {
    if (generation != generation_[static_cast<std::size_t>(side)]) {
        return;  // a newer choice for this side is under way or done
    }
    if (!outcome.endpoint) {
        showError(outcome.error);
        return;
    }
    SyncJob next = job();
    (side == Side::source ? next.source : next.destination) = *outcome.endpoint;
    showError(std::nullopt);
    report(next);
}

void FoldersSection::showError(const std::optional<QString>& error) {
    errorText_ = error;
    refresh();
}

void FoldersSection::refresh() {
    const QString chooseTitle = text("Choose…");
    source_->setSubtitle(subtitle(job().source, strings(), locale()), chooseTitle);
    destination_->setSubtitle(subtitle(job().destination, strings(), locale()), chooseTitle);
    swap_->setEnabled(!job().source.path.empty() || !job().destination.path.empty());
    while (QLayoutItem* item = issuesLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const ValidationIssue issue : validation_) {
        if (!isFolderIssue(issue)) continue;
        auto* line = new QLabel(strings().computed("validation.", issue, locale()), issues_);
        line->setWordWrap(true);
        line->setFont(FenraFont::font(FontRole::caption));
        PaletteTone::apply(line, FenraTheme::error());
        issuesLayout_->addWidget(line);
    }
    error_->setVisible(errorText_.has_value());
    error_->setText(errorText_.value_or(QString()));
}

FolderSideRow::FolderSideRow(QString title, std::function<void()> choose,
                             std::function<bool(const QList<QUrl>&)> drop, QWidget* parent)
    : QWidget(parent), title_(std::move(title)), chooseAction_(std::move(choose)), drop_(std::move(drop)) {
    setAcceptDrops(true);
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 3, 0, 3);
}

void FolderSideRow::setSubtitle(const QString& subtitle, const QString& chooseTitle) {
    if (row_ && subtitle == subtitle_) return;
    subtitle_ = subtitle;
    // The row's texts are fixed when it is made; a new folder makes a new row.
    if (row_) {
        layout_->removeWidget(row_);
        row_->hide();
        row_->deleteLater();
    }
    choose_ = new QPushButton(chooseTitle);
    connect(choose_, &QPushButton::clicked, this, [this] { chooseAction_(); });
    row_ = new SettingsRow(title_, subtitle_, [this] { return choose_; });
    layout_->addWidget(row_);
}

void FolderSideRow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void FolderSideRow::dropEvent(QDropEvent* event) {
    if (drop_(event->mimeData()->urls())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

}  // namespace kelto
