#pragma once

#include "FenraCore/FenraSurface.h"
#include "FenraCore/InsettableShape.h"
#include "FenraCore/SurfaceRendering.h"

#include <QWidget>

namespace kelto {

class SurfaceBorder;

// Holds one widget on a floating backdrop of the given role, filling the
// shape behind it: the role's material, or the window colour when the kit
// preferences reduce transparency. Solid surfaces, and all of them under
// increased contrast, get a one-device-pixel separator border inside the
// edge, drawn over the content but letting every click through. The
// rendering is decided afresh at each paint.
class FenraSurfaceFrame : public QWidget {
    Q_OBJECT

public:
    FenraSurfaceFrame(FenraSurface role, InsettableShape shape, bool interactive, QWidget* content,
                      QWidget* parent = nullptr);

    FenraSurface role() const { return role_; }
    // Asks glass to follow the pointer; there is no glass here, so it only
    // travels with the surface.
    bool interactive() const { return interactive_; }
    QWidget* content() const { return content_; }
    const InsettableShape& shape() const { return shape_; }

    SurfaceRendering rendering() const;
    bool hasBorder() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();

    FenraSurface role_;
    InsettableShape shape_;
    bool interactive_;
    QWidget* content_;
    SurfaceBorder* border_;
};

}  // namespace kelto
