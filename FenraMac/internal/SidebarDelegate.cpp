#include "FenraMac/internal/SidebarDelegate.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/DevicePixelRatio.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/FoldedTile.h"
#include "FenraMac/SettingsShellMetrics.h"
#include "FenraMac/internal/SidebarModel.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyle>

namespace kelto {
namespace {

constexpr int leadingInset = 18;
constexpr double selectionRadius = 6;

struct PaneSymbol {
    QString name;
};

QString symbolName(const PaneSymbol& symbol) {
    return symbol.name;
}

QPalette::ColorGroup groupOf(const QStyleOptionViewItem& option) {
    if (!(option.state & QStyle::State_Enabled)) {
        return QPalette::Disabled;
    }
    return option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
}

}  // namespace

SidebarDelegate::SidebarDelegate(const SidebarModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

QRect SidebarDelegate::tileRect(const QRect& row, Qt::LayoutDirection direction) {
    const int side = SettingsShellMetrics::tileSide;
    const QRect tile(row.x() + leadingInset, row.y() + (row.height() - side) / 2, side, side);
    return QStyle::visualRect(direction, row, tile);
}

QRect SidebarDelegate::titleRect(const QRect& row, Qt::LayoutDirection direction) {
    const int left = row.x() + leadingInset + SettingsShellMetrics::tileSide + SettingsShellMetrics::tileLabelSpacing;
    const QRect title(left, row.y(), row.right() + 1 - SettingsShellMetrics::rowTrailingInset - left, row.height());
    return QStyle::visualRect(direction, row, title);
}

QSize SidebarDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    return QSize(option.rect.width(), SidebarModel::heightOf(model_.rows()[static_cast<std::size_t>(index.row())]));
}

void SidebarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const SidebarRow& row = model_.rows()[static_cast<std::size_t>(index.row())];
    const QRect& bounds = option.rect;
    const QPalette::ColorGroup group = groupOf(option);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    switch (row.kind) {
    case SidebarRow::Kind::gap:
        break;
    case SidebarRow::Kind::heading:
    case SidebarRow::Kind::empty: {
        // The theme's secondary text: at least 4.5:1 from the sidebar in
        // either look, where half the label colour was not.
        painter->setPen(FenraTheme::textSecondary().color(option.palette));
        painter->setFont(FenraFont::font(FontRole::subheadline));
        const QRect text = QStyle::visualRect(
            option.direction, bounds,
            bounds.adjusted(leadingInset, 0, -SettingsShellMetrics::rowTrailingInset,
                            row.kind == SidebarRow::Kind::heading ? -SettingsShellMetrics::headingBottomInset : 0));
        const Qt::Alignment vertical = row.kind == SidebarRow::Kind::heading ? Qt::AlignBottom : Qt::AlignVCenter;
        painter->drawText(text, static_cast<int>(Qt::AlignLeading | vertical),
                          painter->fontMetrics().elidedText(row.text, Qt::ElideRight, text.width()));
        break;
    }
    case SidebarRow::Kind::pane: {
        const bool selected = option.state & QStyle::State_Selected;
        if (selected) {
            QPainterPath highlight;
            highlight.addRoundedRect(QRectF(bounds.adjusted(SettingsShellMetrics::rowTrailingInset, 1,
                                                            -SettingsShellMetrics::rowTrailingInset, -1)),
                                     selectionRadius, selectionRadius);
            painter->fillPath(highlight, option.palette.color(group, QPalette::Highlight));
        }
        const QRect tile = tileRect(bounds, option.direction);
        // Selected in the active window, the title takes the highlight's
        // text colour; otherwise the label colour.
        const bool emphasised = selected && group == QPalette::Active;
        const QColor ink = option.palette.color(group, emphasised ? QPalette::HighlightedText : QPalette::WindowText);
        const FoldedTile figure(PaneSymbol{row.symbolName}, row.tint, SettingsShellMetrics::tileSide);
        if (selected) {
            // A tile that would melt into the selection is ringed.
            painter->drawPixmap(tile.topLeft(),
                                figure.pixmap(option.palette, DevicePixelRatio::of(*painter),
                                              FoldedTile::ring(row.tint, option.palette.color(group, QPalette::Highlight), ink)));
        } else {
            figure.paint(*painter, tile.topLeft(), option.palette);
        }
        painter->setPen(ink);
        painter->setFont(FenraFont::font(SettingsShellMetrics::labelFontSize));
        const QRect title = titleRect(bounds, option.direction);
        painter->drawText(title, static_cast<int>(Qt::AlignLeading | Qt::AlignVCenter),
                          painter->fontMetrics().elidedText(row.text, Qt::ElideRight, title.width()));
        break;
    }
    }
    painter->restore();
}

}  // namespace kelto
