#pragma once

#include "ui/DropState.h"

#include <QColor>
#include <QRectF>

class QPainter;

// The orange marker over the row a dragged link would be dropped on: a ring at the leading
// end and a line across the row. It sits on the boundary the drop would use, so the user sees
// whether the link lands before or after the row.
struct InsertionIndicator
{
    bool isTarget = false;
    Edge edge = Edge::top;

    static constexpr qreal lineWidth = 2;
    static constexpr qreal ringDiameter = 8;
    static constexpr qreal margin = 2;

    static QColor color();
    // The area the marker covers for a row drawn at rowRect, with gap points between rows.
    QRectF markerRect(const QRectF &rowRect, qreal gap) const;
    void paint(QPainter *painter, const QRectF &rowRect, qreal gap) const;
};
