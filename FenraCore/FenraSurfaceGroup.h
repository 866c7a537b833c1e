#pragma once

#include <QWidget>

namespace kelto {

// Groups surfaces so that glass shapes within `spacing` of each other could
// blend. There is no glass here, so the group shows its content unchanged.
class FenraSurfaceGroup : public QWidget {
    Q_OBJECT

public:
    FenraSurfaceGroup(double spacing, QWidget* content, QWidget* parent = nullptr);

    double spacing() const { return spacing_; }
    QWidget* content() const { return content_; }

private:
    double spacing_;
    QWidget* content_;
};

}  // namespace kelto
