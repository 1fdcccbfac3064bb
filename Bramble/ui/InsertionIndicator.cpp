#include "ui/InsertionIndicator.h"

#include <QPainter>

QColor InsertionIndicator::color()
{
    return QColor(255, 149, 0);
}

QRectF InsertionIndicator::markerRect(const QRectF &rowRect, qreal gap) const
{
    if (!isTarget)
        return {};
    // Centred in the gap before or after the row.
    const qreal boundary = edge == Edge::top ? rowRect.top() - gap / 2 : rowRect.bottom() + gap / 2;
    return QRectF(
        rowRect.left() + margin, boundary - ringDiameter / 2, rowRect.width() - 2 * margin, ringDiameter);
}

void InsertionIndicator::paint(QPainter *painter, const QRectF &rowRect, qreal gap) const
{
    if (!isTarget)
        return;
    const QRectF area = markerRect(rowRect, gap);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QColor orange = color();
    const qreal middle = area.center().y();
    painter->fillRect(
        QRectF(area.left() + ringDiameter, middle - lineWidth / 2, area.width() - ringDiameter, lineWidth),
        orange);
    QPen pen(orange, lineWidth);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    const qreal inset = lineWidth / 2;
    painter->drawEllipse(
        QRectF(area.left() + inset, area.top() + inset, ringDiameter - lineWidth, ringDiameter - lineWidth));
    painter->restore();
}
