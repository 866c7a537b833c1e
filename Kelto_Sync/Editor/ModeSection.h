#pragma once

#include "FenraCore/FenraIcon.h"
#include "FenraCore/TileTint.h"
#include "Kelto_Sync/Editor/EditorSection.h"

#include <array>

class QComboBox;
class QLabel;

namespace kelto {

class IconLabel;

class ModeTile;

// How a job syncs: the mode picker, a tile and line describing the chosen
// mode, and a warning while a deleting mode runs without the archive.
class ModeSection : public EditorSection {
public:
    ModeSection(SyncStrings strings, Report report, QWidget* parent = nullptr);

    static constexpr std::array<SyncMode, 3> order{SyncMode::copy, SyncMode::mirror, SyncMode::twoWay};
    static bool showsArchiveOffWarning(const SyncJob& job);

    QComboBox* picker() const { return picker_; }
    const ModeTile* tile() const { return tile_; }
    QLabel* description() const { return description_; }
    QWidget* warning() const { return warning_; }

protected:
    void refresh() override;

private:
    QComboBox* picker_;
    ModeTile* tile_;
    QLabel* description_;
    QWidget* warning_;
    IconLabel* warningIcon_;
    QLabel* warningText_;
};

// The mode's folded tile, 28 points.
class ModeTile : public QWidget {
public:
    explicit ModeTile(QWidget* parent);
    void setMode(FenraIcon symbol, TileTint tint);
    FenraIcon symbol() const { return symbol_; }
    TileTint tint() const { return tint_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    FenraIcon symbol_ = FenraIcon::copy;
    TileTint tint_ = TileTint::sky;
};

}  // namespace kelto
