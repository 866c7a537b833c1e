#pragma once

#include "Kelto_Sync/SyncStrings.h"
#include "SyncEngine/SyncPlan.h"

#include <QAbstractItemModel>
#include <QLocale>

#include <array>
#include <cstdint>
#include <vector>

namespace kelto {

// Every path of a plan under six sections (copies to B, copies to A,
// archives on A, archives on B, skipped, conflicts), each in the plan's
// order. Rows are made when a view asks for them, so a plan of any size
// opens at once. Column 0 holds a section's title or a path, column 1 a
// section's count or a skipped file's reason.
class PlanDetailsModel : public QAbstractItemModel {
    Q_OBJECT

public:
    enum Section { copiesToB, copiesToA, archivesOnA, archivesOnB, skipped, conflicts };
    static constexpr int sectionCount = 6;

    PlanDetailsModel(SyncPlan plan, SyncStrings strings, QObject* parent = nullptr);

    // Looks the titles and reasons up again, for the locale given.
    void retranslate(const QLocale& locale);
    std::int64_t rows(Section section) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const std::string& path(Section section, std::size_t row) const;

    SyncPlan plan_;
    SyncStrings strings_;
    QLocale locale_;
    // Positions in the plan's lists of the copies and archives of each side.
    std::vector<std::uint32_t> copiesToB_, copiesToA_, archivesOnA_, archivesOnB_;
    std::array<QString, sectionCount> titles_;
    std::array<QString, EnumNames<FileSkipReason>::names.size()> reasons_;
};

}  // namespace kelto
