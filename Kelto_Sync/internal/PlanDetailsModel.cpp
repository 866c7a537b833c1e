#include "Kelto_Sync/internal/PlanDetailsModel.h"

#include "FenraCore/FenraFont.h"
#include "Kelto_Sync/DisplayFormat.h"

namespace kelto {
namespace {

// Internal ids: 0 for a section, the section plus one for its rows.
constexpr quintptr sectionID = 0;

}  // namespace

PlanDetailsModel::PlanDetailsModel(SyncPlan plan, SyncStrings strings, QObject* parent)
    : QAbstractItemModel(parent), plan_(std::move(plan)), strings_(strings) {
    for (std::uint32_t i = 0; i < plan_.copies.size(); ++i) {
        (plan_.copies[i].to == Side::b ? copiesToB_ : copiesToA_).push_back(i);
    }
    for (std::uint32_t i = 0; i < plan_.archives.size(); ++i) {
        (plan_.archives[i].on == Side::a ? archivesOnA_ : archivesOnB_).push_back(i);
    }
    retranslate(locale_);
}

void PlanDetailsModel::retranslate(const QLocale& locale) {
    locale_ = locale;
    const std::array<const char*, sectionCount> english{"Copy A\u2192B", "Copy B\u2192A", "Archive on A",
                                                       "Archive on B", "Skipped",          "Conflicts"};
    for (int section = 0; section < sectionCount; ++section) {
        titles_[section] = strings_.text(QString::fromUtf8(english[section]), locale);
    }
    for (std::size_t reason = 0; reason < reasons_.size(); ++reason) {
        reasons_[reason] = strings_.computed("fileSkip.", static_cast<FileSkipReason>(reason), locale);
    }
    emit dataChanged(index(0, 0), index(sectionCount - 1, 1));
    if (!plan_.skipped.empty()) {
        const QModelIndex parent = index(skipped, 0);
        emit dataChanged(index(0, 1, parent), index(rowCount(parent) - 1, 1, parent));
    }
}

std::int64_t PlanDetailsModel::rows(Section section) const {
    switch (section) {
    case copiesToB: return static_cast<std::int64_t>(copiesToB_.size());
    case copiesToA: return static_cast<std::int64_t>(copiesToA_.size());
    case archivesOnA: return static_cast<std::int64_t>(archivesOnA_.size());
    case archivesOnB: return static_cast<std::int64_t>(archivesOnB_.size());
    case skipped: return static_cast<std::int64_t>(plan_.skipped.size());
    case conflicts: return static_cast<std::int64_t>(plan_.conflicts.size());
    }
    return 0;
}

const std::string& PlanDetailsModel::path(Section section, std::size_t row) const {
    switch (section) {
    case copiesToB: return plan_.copies[copiesToB_[row]].path;
    case copiesToA: return plan_.copies[copiesToA_[row]].path;
    case archivesOnA: return plan_.archives[archivesOnA_[row]].path;
    case archivesOnB: return plan_.archives[archivesOnB_[row]].path;
    case skipped: return plan_.skipped[row].path;
    case conflicts: break;
    }
    return plan_.conflicts[row];
}

QModelIndex PlanDetailsModel::index(int row, int column, const QModelIndex& parent) const {
    if (!hasIndex(row, column, parent)) {
        return {};
    }
    return createIndex(row, column, parent.isValid() ? static_cast<quintptr>(parent.row()) + 1 : sectionID);
}

QModelIndex PlanDetailsModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == sectionID) {
        return {};
    }
    return createIndex(static_cast<int>(child.internalId() - 1), 0, sectionID);
}

int PlanDetailsModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return sectionCount;
    }
    if (parent.internalId() != sectionID || parent.column() != 0) {
        return 0;
    }
    return static_cast<int>(rows(static_cast<Section>(parent.row())));
}

int PlanDetailsModel::columnCount(const QModelIndex&) const {
    return 2;
}

QVariant PlanDetailsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const bool isSection = index.internalId() == sectionID;
    if (role == Qt::TextAlignmentRole && index.column() == 1) {
        return QVariant::fromValue(Qt::Alignment(isSection ? Qt::AlignLeft | Qt::AlignVCenter
                                                           : Qt::AlignRight | Qt::AlignVCenter));
    }
    if (role == Qt::FontRole && isSection) {
        return FenraFont::font(FontRole::headline);
    }
    if (role != Qt::DisplayRole && !(role == Qt::ToolTipRole && !isSection && index.column() == 0)) {
        return {};
    }
    if (isSection) {
        const auto section = static_cast<Section>(index.row());
        return index.column() == 0 ? titles_[section] : DisplayFormat::integer(rows(section), locale_);
    }
    const auto section = static_cast<Section>(index.internalId() - 1);
    const auto row = static_cast<std::size_t>(index.row());
    if (index.column() == 0) {
        return QString::fromStdString(path(section, row));
    }
    if (section == skipped) {
        return reasons_[static_cast<std::size_t>(plan_.skipped[row].reason)];
    }
    return {};
}

Qt::ItemFlags PlanDetailsModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return index.internalId() == sectionID ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace kelto
