#include "Kelto_Sync/ArchiveStatusView.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/PaletteTone.h"
#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/ArchiveSize.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/RevealFailureAlert.h"
#include "SyncEngine/ArchiveDirectories.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace kelto {
namespace {

QString pathText(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

}  // namespace

ArchiveStatusView::ArchiveStatusView(AppModelAdapter& model, const Uuid& jobID, SyncStrings strings,
                                     StatusViewActions actions, QWidget* parent)
    : QWidget(parent),
      model_(&model),
      jobID_(jobID),
      strings_(strings),
      actions_(std::move(actions)),
      latestRecord_(model.lastRecordID(jobID)),
      header_(new QLabel(this)),
      title_(new QLabel(this)),
      size_(new QLabel(this)),
      open_(new QPushButton(this)),
      clean_(new QPushButton(this)),
      openFailed_(new QLabel(this)),
      errorLabel_(new QLabel(this)) {
    header_->setObjectName(QStringLiteral("header"));
    header_->setFont(FenraFont::font(FontRole::headline));
    size_->setObjectName(QStringLiteral("size"));
    open_->setObjectName(QStringLiteral("open"));
    clean_->setObjectName(QStringLiteral("clean"));
    openFailed_->setObjectName(QStringLiteral("openFailed"));
    openFailed_->setWordWrap(true);
    PaletteTone::apply(openFailed_, FenraTheme::error());
    PaletteTone::apply(size_, FenraTheme::textSecondary());
    PaletteTone::apply(errorLabel_, FenraTheme::error());
    errorLabel_->setObjectName(QStringLiteral("error"));
    errorLabel_->setWordWrap(true);
    for (QLabel* label : {header_, title_, size_, openFailed_, errorLabel_}) label->setTextFormat(Qt::PlainText);

    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(title_);
    sizeRow->addStretch(1);
    sizeRow->addWidget(size_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(open_);
    buttons->addWidget(clean_);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(header_);
    layout->addLayout(sizeRow);
    layout->addLayout(buttons);
    layout->addWidget(openFailed_);
    layout->addWidget(errorLabel_);

    connect(open_, &QPushButton::clicked, this, &ArchiveStatusView::openArchives);
    connect(clean_, &QPushButton::clicked, this, &ArchiveStatusView::confirmClean);
    connect(&model, &AppModelAdapter::lastRecordsChanged, this, &ArchiveStatusView::lastRecordsChanged);
    connect(&model, &AppModelAdapter::statusesChanged, this, &ArchiveStatusView::refresh);
    connect(&model, &AppModelAdapter::jobsChanged, this, &ArchiveStatusView::refresh);
    refresh();
    load();
}

ArchiveStatusView::~ArchiveStatusView() {
    // A walk still running has nobody to tell; it stops at its next item.
    walkStop_.request_stop();
}

void ArchiveStatusView::lastRecordsChanged() {
    const std::optional<Uuid> latest = model_->lastRecordID(jobID_);
    if (latest == latestRecord_) return;
    latestRecord_ = latest;
    load();
}

void ArchiveStatusView::load() {
    const std::uint64_t generation = ++generation_;
    model_->archiveRoots(jobID_, this, [this, generation](Result<AppModelAdapter::Roots> result) {
        if (generation != generation_) return;
        if (!result.hasValue()) {
            error_ = AppModelAdapter::describe(result.error());
            refresh();
            emit loaded();
            return;
        }
        roots_ = result.take();
        refresh();
        walkStop_.request_stop();
        walkStop_ = std::stop_source();
        delete walk_;
        walk_ = new QFutureWatcher<std::int64_t>(this);
        connect(walk_, &QFutureWatcherBase::finished, this,
                [this, generation, watcher = walk_] { sized(generation, watcher->result()); });
        walk_->setFuture(QtConcurrent::run(
            [roots = roots_, jobID = jobID_, stop = walkStop_.get_token()] { return ArchiveSize::total(roots, jobID, stop); }));
    });
}

void ArchiveStatusView::sized(std::uint64_t generation, std::int64_t total) {
    if (generation != generation_) return;
    bytes_ = total;
    // A good load clears every failure shown, an earlier open's too.
    error_.reset();
    openFailedShown_ = false;
    refresh();
    emit loaded();
}

void ArchiveStatusView::confirmClean() {
    auto* box = new AlertBox(this);
    box->setObjectName(QStringLiteral("confirmClean"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTitle(strings_.text(QStringLiteral("Delete all archived files?"), locale()));
    QPushButton* confirm = box->addButton(strings_.text(QStringLiteral("Clean now"), locale()), QMessageBox::DestructiveRole);
    confirm->setObjectName(QStringLiteral("confirm"));
    box->addButton(QMessageBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    connect(confirm, &QPushButton::clicked, this, &ArchiveStatusView::clean);
    box->present();
}

void ArchiveStatusView::clean() {
    cleaning_ = true;
    refresh();
    model_->pruneArchives(jobID_, this, [this](Result<void> result) {
        if (!result.hasValue()) {
            error_ = AppModelAdapter::describe(result.error());
            cleaning_ = false;
            refresh();
            emit cleanFinished();
            return;
        }
        // Cleaning lasts until the reload has shown what stayed.
        auto* once = new QObject(this);
        connect(this, &ArchiveStatusView::loaded, once, [this, once] {
            delete once;
            cleaning_ = false;
            refresh();
            emit cleanFinished();
        });
        load();
    });
}

void ArchiveStatusView::openArchives() {
    openFailedShown_ = false;
    refresh();
    // Answers of an earlier press do not count.
    const std::uint64_t press = ++opening_;
    // Each side is asked in turn; once all have answered, one alert names
    // every place no file manager showed.
    struct Ask {
        std::function<void(const QString&, StatusViewActions::Shown)> action;
        QString path;
    };
    std::vector<Ask> asks;
    for (const auto& root : roots_) {
        if (ArchiveDirectories::treeExists(root, jobID_)) {
            if (actions_.openFolder) asks.push_back({actions_.openFolder, pathText(ArchiveDirectories::jobArchiveURL(root, jobID_))});
        } else if (actions_.reveal) {
            asks.push_back({actions_.reveal, pathText(root)});
        }
    }
    struct Answers {
        std::size_t waiting;
        std::vector<bool> shown;
        QStringList paths;
    };
    auto answers = std::make_shared<Answers>(Answers{asks.size(), std::vector<bool>(asks.size(), true), {}});
    for (const Ask& ask : asks) answers->paths << ask.path;
    for (std::size_t i = 0; i < asks.size(); ++i) {
        asks[i].action(asks[i].path, [view = QPointer<ArchiveStatusView>(this), press, answers, i](bool done) {
            answers->shown[i] = done;
            if (--answers->waiting > 0 || !view || view->opening_ != press) return;
            QStringList missed;
            for (std::size_t j = 0; j < answers->shown.size(); ++j) {
                if (!answers->shown[j]) missed << answers->paths[static_cast<qsizetype>(j)];
            }
            if (!missed.isEmpty()) view->openFailed(press, missed);
        });
    }
}

void ArchiveStatusView::openFailed(std::uint64_t press, const QStringList& paths) {
    openFailedShown_ = true;
    refresh();
    AlertBox* alert = RevealFailureAlert::present(
        *this, strings_, strings_.text(QStringLiteral("No file manager could show the archive."), locale()), paths);
    // Answered, the failure is told: nothing of it stays under the buttons.
    connect(alert, &QDialog::finished, this, [this, press] {
        if (opening_ != press) return;
        openFailedShown_ = false;
        refresh();
    });
}

void ArchiveStatusView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) refresh();
}

void ArchiveStatusView::refresh() {
    const QLocale where = locale();
    header_->setText(strings_.text(QStringLiteral("Stored archives"), where));
    title_->setText(strings_.text(QStringLiteral("Archive size"), where));
    QString size = DisplayFormat::bytes(bytes_, where);
    if (const SyncJob* job = model_->job(jobID_)) {
        const JobOptions& options = job->options;
        QString retention;
        if (!options.archiveEnabled) {
            retention = strings_.text(QStringLiteral("Archive off"), where);
        } else if (!options.archiveRetentionDays) {
            retention = strings_.text(QStringLiteral("Kept forever"), where);
        } else {
            retention = strings_.count(QStringLiteral("Kept %lld days"), qlonglong(*options.archiveRetentionDays), {}, where);
        }
        size += QStringLiteral(" \u00B7 ") + retention;
    }
    size_->setText(size);

    open_->setText(strings_.text(QStringLiteral("Open in Finder"), where));
    openFailed_->setText(strings_.text(QStringLiteral("No file manager could show the archive."), where));
    openFailed_->setVisible(openFailedShown_);
    clean_->setText(strings_.text(QStringLiteral("Clean now"), where));
    open_->setEnabled(!roots_.empty());
    clean_->setEnabled(!cleaning_ && model_->status(jobID_) == nullptr && !roots_.empty());

    errorLabel_->setVisible(error_.has_value());
    if (error_) {
        errorLabel_->setText(*error_);
    }
}

}  // namespace kelto
