#pragma once

#include <QWidget>

namespace kelto {

class FenraSurfaceFrame;

// The hairline of a surface, over its content. It takes no clicks, so the
// controls under it stay usable.
class SurfaceBorder : public QWidget {
    Q_OBJECT

public:
    explicit SurfaceBorder(FenraSurfaceFrame& frame);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    FenraSurfaceFrame& frame_;
};

}  // namespace kelto
