#pragma once

#include <QAbstractButton>

namespace kelto {

class DogEar;
class TitleChip;

// One option of `ChoiceTiles`: the framed preview over the title chip, 8
// points apart, 4 points of padding around both, the whole of it a button
// without chrome. A selected tile dog-ears its preview and fills its chip.
// To assistive technology it is a button named by its title, selected or
// not; the preview is not read out.
class ChoiceTile : public QAbstractButton {
    Q_OBJECT

public:
    ChoiceTile(const QString& title, QWidget* preview, QWidget* parent = nullptr);

    QString title() const { return title_; }
    bool isSelected() const { return selected_; }
    void setSelected(bool selected);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString title_;
    bool selected_ = false;
    DogEar* ear_;
    TitleChip* chip_;
};

}  // namespace kelto
