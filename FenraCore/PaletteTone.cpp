#include "FenraCore/PaletteTone.h"

#include <QEvent>
#include <QWidget>

namespace kelto {

PaletteTone::PaletteTone(QWidget* widget) : QObject(widget), widget_(widget) { widget->installEventFilter(this); }

void PaletteTone::apply(QWidget* widget, const FenraColor& color, QPalette::ColorRole role) {
    // The look is the palette's; the colour is the same in every group.
    apply(widget, [color](const QPalette& inherited, QPalette::ColorGroup) { return color.color(inherited); }, role);
}

void PaletteTone::apply(QWidget* widget, Derive derive, QPalette::ColorRole role) {
    auto* tone = widget->findChild<PaletteTone*>(QString(), Qt::FindDirectChildrenOnly);
    if (tone == nullptr) tone = new PaletteTone(widget);
    tone->tones_.insert_or_assign(role, std::move(derive));
    tone->recolour();
}

bool PaletteTone::eventFilter(QObject* watched, QEvent* event) {
    // A parent sends its children the change after its own, so by then the
    // parent's palette is the new one.
    if (watched == widget_ && (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)) {
        recolour();
    }
    return false;
}

void PaletteTone::recolour() {
    // The roles set here are the widget's own, so they are worked out from
    // the parent's palette.
    const QWidget* judge = widget_->parentWidget() != nullptr ? widget_->parentWidget() : widget_;
    QPalette inherited = judge->palette();
    inherited.setCurrentColorGroup(QPalette::Active);
    QPalette own = widget_->palette();
    bool changed = false;
    for (const auto& [role, derive] : tones_) {
        for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            const QColor wanted = derive(inherited, group);
            if (widget_->testAttribute(Qt::WA_SetPalette) && own.isBrushSet(group, role) &&
                own.color(group, role) == wanted) {
                continue;
            }
            own.setColor(group, role, wanted);
            changed = true;
        }
    }
    if (changed) widget_->setPalette(own);
}

}  // namespace kelto
