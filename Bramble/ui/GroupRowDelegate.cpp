#include "ui/GroupRowDelegate.h"

#include "ui/RowMoveAnimator.h"
#include "ui/Symbols.h"

#include <QListView>
#include <QPainter>
#include <algorithm>

GroupRowDelegate::GroupRowDelegate(
    QListView *view, RowMoveAnimator *animator, std::function<bool(int row)> isDropTarget)
    : QStyledItemDelegate(view)
    , m_view(view)
    , m_animator(animator)
    , m_isDropTarget(std::move(isDropTarget))
{ }

void GroupRowDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const qreal pitch = option.rect.height() + m_view->spacing();
    const qreal shift = m_animator ? m_animator->offset(index, pitch) : 0;
    const bool selected = option.state & QStyle::State_Selected;
    const bool hovered = option.state & QStyle::State_MouseOver;
    const bool active = option.state & QStyle::State_Active;
    const QPalette &palette = option.palette;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->translate(0, shift);
    const QRectF background = QRectF(option.rect).adjusted(2, 1, -2, -1);
    const bool dropTarget = m_isDropTarget && m_isDropTarget(index.row());
    if (dropTarget) {
        // A link dragged over the group would land here.
        QColor fill = palette.color(QPalette::Highlight);
        fill.setAlphaF(selected ? 1.0f : 0.3f);
        painter->setBrush(fill);
        painter->setPen(QPen(palette.color(QPalette::Highlight).darker(130), 2));
        painter->drawRoundedRect(background.adjusted(1, 1, -1, -1), 6, 6);
    } else if (selected) {
        QColor fill = palette.color(QPalette::Highlight);
        if (!active)
            fill.setAlphaF(0.55f);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(background, 6, 6);
    } else if (hovered) {
        QColor fill = palette.color(QPalette::WindowText);
        fill.setAlphaF(0.06f);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(background, 6, 6);
    }

    // The keyboard's place: a ring around the current row while the sidebar has the focus.
    if (option.state & QStyle::State_HasFocus) {
        QColor ring = palette.color(QPalette::Active, QPalette::Highlight);
        if (selected)
            ring = ring.darker(160);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(ring, 2));
        painter->drawRoundedRect(background.adjusted(1, 1, -1, -1), 5, 5);
    }

    const QColor textColor
        = selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Text);
    const QColor symbolColor = selected ? textColor : palette.color(QPalette::Highlight);
    const int iconSide = 16;
    const QRect iconRect(
        option.rect.left() + 10, option.rect.center().y() - iconSide / 2 + 1, iconSide, iconSide);
    Symbols::icon(QStringLiteral("folder"), symbolColor).paint(painter, iconRect);

    const QRect textRect = option.rect.adjusted(iconRect.right() + 8 - option.rect.left(), 0, -8, 0);
    const QString name = index.data(Qt::DisplayRole).toString();
    painter->setPen(textColor);
    painter->setFont(option.font);
    painter->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
        option.fontMetrics.elidedText(name, Qt::ElideRight, textRect.width()));
    painter->restore();
}

QSize GroupRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(size.height(), rowHeight));
    return size;
}
