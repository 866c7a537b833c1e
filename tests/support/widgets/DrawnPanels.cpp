#include "tests/support/widgets/DrawnPanels.h"

#include "FenraCore/FenraStyle.h"

#include <QImage>
#include <QStyleOption>
#include <QWidget>

namespace kelto {
namespace {

class RecordingStyle : public FenraStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override {
        switch (element) {
        case PE_PanelButtonTool:
        case PE_PanelButtonCommand:
        case PE_PanelButtonBevel:
        case PE_FrameButtonTool:
        case PE_FrameButtonBevel:
            panels.push_back({element, static_cast<bool>(option->state & (State_On | State_Sunken))});
            break;
        default:
            break;
        }
        FenraStyle::drawPrimitive(element, option, painter, widget);
    }
    mutable std::vector<DrawnPanels::Panel> panels;
};

}  // namespace

std::vector<DrawnPanels::Panel> DrawnPanels::of(QWidget& widget) {
    RecordingStyle recording;
    QStyle* before = widget.style();
    const bool own = widget.testAttribute(Qt::WA_SetStyle);
    widget.setStyle(&recording);
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    widget.setStyle(own ? before : nullptr);
    return recording.panels;
}

}  // namespace kelto
