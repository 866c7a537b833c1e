#include "FenraMac/SettingsShell.h"

#include "FenraMac/FenraMacStrings.h"
#include "FenraMac/SettingsSearchField.h"
#include "FenraMac/SettingsShellMetrics.h"
#include "FenraMac/SettingsSidebarList.h"
#include "FenraSettings/SettingsSearch.h"
#include "FenraSettings/SettingsSearchQuery.h"
#include "FenraSettings/SettingsSelection.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

namespace kelto {

SettingsShell::SettingsShell(std::vector<SettingsPane> panes, Binding<QString>& selection, QString fallback,
                             QWidget* parent)
    : QWidget(parent),
      panes_(std::move(panes)),
      selection_(&selection),
      fallback_(std::move(fallback)),
      sidebarSelection_(resolvedSelection()),
      field_(new SettingsSearchField(query_)),
      sidebar_(new SettingsSidebarList(panes_, sidebarSelection_)),
      splitter_(new QSplitter(Qt::Horizontal, this)),
      detailLayout_(nullptr),
      focusSearch_(new QAction(this)) {
    SettingsSearchQuery::provide(*this, query_);

    auto* sidebarColumn = new QWidget;
    sidebarColumn->setMinimumWidth(SettingsShellMetrics::sidebarMinimumWidth);
    sidebarColumn->setMaximumWidth(SettingsShellMetrics::sidebarMaximumWidth);
    auto* sidebarLayout = new QVBoxLayout(sidebarColumn);
    sidebarLayout->setContentsMargins(0, SettingsShellMetrics::contentTop(), 0, 0);
    sidebarLayout->setSpacing(0);
    auto* fieldRow = new QHBoxLayout;
    fieldRow->setContentsMargins(SettingsShellMetrics::searchHorizontalPadding, 0,
                                 SettingsShellMetrics::searchHorizontalPadding, 0);
    field_->setFixedHeight(SettingsShellMetrics::searchHeight);
    fieldRow->addWidget(field_);
    sidebarLayout->addLayout(fieldRow);
    sidebarLayout->addWidget(sidebar_, 1);

    auto* detailColumn = new QWidget;
    detailLayout_ = new QVBoxLayout(detailColumn);
    detailLayout_->setContentsMargins(0, SettingsShellMetrics::contentTop(), 0, 0);
    detailLayout_->setSpacing(0);

    splitter_->addWidget(sidebarColumn);
    splitter_->addWidget(detailColumn);
    splitter_->setChildrenCollapsible(false);
    splitter_->setCollapsible(0, false);
    splitter_->setCollapsible(1, false);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({SettingsShellMetrics::sidebarIdealWidth, 1000});
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter_);

    focusSearch_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    focusSearch_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(focusSearch_, &QAction::triggered, this, &SettingsShell::focusSearch);
    addAction(focusSearch_);
    refreshTexts();

    connect(&query_, &BindingNotifier::changed, this, &SettingsShell::filterSidebar);
    // A pane the user picks in the sidebar.
    connect(&sidebarSelection_, &BindingNotifier::changed, this, [this] {
        if (!showingSelection_ && selection_ != nullptr) {
            selection_->set(SettingsSelection::resolve(sidebarSelection_.get(), ids(), fallback_));
        }
    });
    connect(&selection, &BindingNotifier::written, this, &SettingsShell::resolve);
}

QStringList SettingsShell::ids() const {
    QStringList ids;
    for (const SettingsPane& pane : panes_) {
        ids.append(pane.id);
    }
    return ids;
}

QString SettingsShell::resolvedSelection() const {
    return SettingsSelection::resolve(selection_ != nullptr ? std::optional<QString>(selection_->get()) : std::nullopt,
                                      ids(), fallback_);
}

void SettingsShell::setPanes(std::vector<SettingsPane> panes) {
    const QStringList before = ids();
    panes_ = std::move(panes);
    filterSidebar();
    if (ids() != before) {
        resolve();
    }
}

void SettingsShell::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        resolve();
    }
}

void SettingsShell::resolve() {
    if (selection_ == nullptr) {
        return;
    }
    const QString resolved = resolvedSelection();
    if (shown_ && resolved != selection_->get()) {
        // The write comes back here through the selection's signal.
        selection_->set(resolved);
        return;
    }
    showSelection();
}

void SettingsShell::showSelection() {
    const QString resolved = resolvedSelection();
    showingSelection_ = true;
    sidebarSelection_.set(resolved);
    showingSelection_ = false;
    if (shown_ && detailId_ != resolved) {
        buildDetail(resolved);
    }
}

void SettingsShell::buildDetail(const QString& id) {
    if (detail_ != nullptr) {
        // Later, not now: the old content may be what asked for the change.
        detail_->hide();
        detailLayout_->removeWidget(detail_);
        detail_->deleteLater();
        detail_ = nullptr;
    }
    detailId_ = id;
    const auto pane = std::find_if(panes_.begin(), panes_.end(), [&](const SettingsPane& p) { return p.id == id; });
    if (pane == panes_.end()) {
        return;
    }
    detail_ = pane->content().release();
    // The pane takes the column's whole width; content that does not take
    // all its height keeps to the top.
    const bool tall = detail_->sizePolicy().expandingDirections() & Qt::Vertical;
    detailLayout_->addWidget(detail_, 1, tall ? Qt::Alignment() : Qt::AlignTop);
    // Now rather than on the next event-loop turn, so that its rows follow
    // the query from the start.
    detail_->show();
}

void SettingsShell::filterSidebar() {
    sidebar_->setPanes(SettingsSearch::filter(panes_, query_.get()));
}

void SettingsShell::focusSearch() {
    if (field_->isVisible()) {
        field_->setFocus(Qt::ShortcutFocusReason);
        field_->selectAll();
    }
}

void SettingsShell::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        query_.set(QString());
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SettingsShell::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) {
        refreshTexts();
    }
}

void SettingsShell::refreshTexts() {
    focusSearch_->setText(FenraMacStrings::text(QStringLiteral("Search settings"), locale()));
}

}  // namespace kelto
