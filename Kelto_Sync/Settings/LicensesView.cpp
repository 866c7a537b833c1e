#include "Kelto_Sync/Settings/LicensesView.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/PaletteTone.h"
#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/RevealFailureAlert.h"
#include "Platform/Desktop/FileRevealer.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStringDecoder>
#include <QVBoxLayout>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace kelto {
namespace {

QString readStrictUtf8(const QString& path, const SyncStrings& strings, const QLocale& locale) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error(
            strings.format(QStringLiteral("The file “%@” couldn’t be read: %@"), {path, file.errorString()}, locale)
                .toStdString());
    }
    const QByteArray bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        throw std::runtime_error(
            strings.format(QStringLiteral("The file “%@” isn’t valid UTF-8 text."), {path}, locale).toStdString());
    }
    return text;
}

// The folder's own order: no sorting.
std::optional<QString> firstArchive(const QString& folder, const SyncStrings& strings, const QLocale& locale) {
    std::error_code error;
    std::filesystem::directory_iterator entries(folder.toStdString(), error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const QString name = QString::fromStdString(entries->path().filename().string());
        if (name.endsWith(QStringLiteral(".tar.gz"), Qt::CaseSensitive)) {
            return QString::fromStdString(entries->path().string());
        }
    }
    if (error) {
        throw std::runtime_error(strings
                                     .format(QStringLiteral("The folder “%@” couldn’t be listed: %@"),
                                             {folder, QString::fromStdString(error.message())}, locale)
                                     .toStdString());
    }
    return std::nullopt;
}

}  // namespace

LicensesView::LicensesView(SyncStrings strings, QString folder, QWidget* parent)
    : QDialog(parent),
      strings_(std::move(strings)),
      folder_(std::move(folder)),
      notice_(new QLabel(this)),
      archive_(new QLabel(this)),
      reveal_(new QPushButton(this)),
      revealFailed_(new QLabel(this)),
      close_(new QPushButton(this)),
      text_(new QPlainTextEdit(this)) {
    const QLocale locale = this->locale();
    setFixedSize(fixedWidth, fixedHeight);
    setWindowTitle(strings_.text(QStringLiteral("Open source licenses"), locale));

    auto* title = new QLabel(strings_.text(QStringLiteral("Open source licenses"), locale), this);
    title->setFont(FenraFont::font(FontRole::title2));
    notice_->setWordWrap(true);
    archive_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    reveal_->setText(strings_.text(QStringLiteral("Show bundled source"), locale));
    revealFailed_->setTextFormat(Qt::PlainText);
    revealFailed_->setWordWrap(true);
    revealFailed_->setText(strings_.text(QStringLiteral("No file manager could show the bundled source."), locale));
    PaletteTone::apply(revealFailed_, FenraTheme::error());
    revealFailed_->hide();
    connect(reveal_, &QPushButton::clicked, this, [this] {
        if (!source_) return;
        revealFailed_->hide();
        FileRevealer::reveal(*source_, [view = QPointer<LicensesView>(this), path = *source_](bool shown) {
            if (view == nullptr) return;
            view->revealFailed_->setVisible(!shown);
            if (!shown) {
                AlertBox* alert = RevealFailureAlert::present(*view, view->strings_, view->revealFailed_->text(), {path});
                QObject::connect(alert, &QDialog::finished, view->revealFailed_, &QWidget::hide);
            }
            emit view->revealed(shown);
        });
    });

    text_->setReadOnly(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The notices are laid out in fixed columns (rules, indented clauses):
    // a line wider than the view scrolls rather than wraps.
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The caption size.
    text_->setFont(FenraFont::monospaced(10));

    close_->setText(strings_.text(QStringLiteral("Close"), locale));
    close_->setAutoDefault(false);
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->addWidget(title);
    layout->addWidget(notice_);
    layout->addWidget(archive_);
    layout->addWidget(reveal_, 0, Qt::AlignLeading);
    layout->addWidget(revealFailed_);
    layout->addWidget(text_, 1);
    layout->addLayout(bottom);
    refresh();
}

QString LicensesView::notice() const {
    return notice_->text();
}

void LicensesView::load() {
    license_.clear();
    source_.reset();
    const QLocale locale = this->locale();
    try {
        license_ = readStrictUtf8(folder_ + QStringLiteral("/COPYING"), strings_, locale);
        source_ = firstArchive(folder_, strings_, locale);
    } catch (const std::exception& error) {
        license_ = QString::fromStdString(error.what());
    }
    refresh();
    emit loaded();
}

void LicensesView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    load();
}

void LicensesView::refresh() {
    const QLocale locale = this->locale();
    // Only a build that bundles rsync's source archive may say it does.
    notice_->setText(source_ ? strings_.text(QStringLiteral("rsync is a separate executable licensed under GNU GPLv3. "
                                                            "Its exact source is included with Kelto Sync."),
                                             locale)
                             : strings_.text(QStringLiteral("rsync is a separate executable licensed under GNU GPLv3. "
                                                            "Its source is your distribution’s “rsync” source "
                                                            "package."),
                                             locale));
    archive_->setText(source_ ? QFileInfo(*source_).fileName() : QString());
    archive_->setVisible(source_.has_value());
    reveal_->setVisible(source_.has_value());
    if (!source_) revealFailed_->hide();
    text_->setPlainText(license_);
}

}  // namespace kelto
