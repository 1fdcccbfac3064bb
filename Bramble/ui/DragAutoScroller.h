#pragma once

#include <QObject>
#include <QPoint>

class QAbstractScrollArea;
class QTimer;

// Scrolls a list while a drag rests near its top or bottom edge, faster the nearer the edge,
// so a row can be dragged anywhere in a long list.
class DragAutoScroller : public QObject
{
    Q_OBJECT

public:
    static constexpr int margin = 40;
    static constexpr int intervalMilliseconds = 30;
    static constexpr int fastestStep = 24;

    explicit DragAutoScroller(QAbstractScrollArea *area);

    // The drag is at this viewport point: starts, keeps or stops scrolling.
    void follow(const QPoint &position);
    void stop();
    bool isScrolling() const;
    // One step towards the edge; false when there is nothing more to scroll that way.
    bool step();

Q_SIGNALS:
    // The content moved under a pointer that stood still.
    void scrolled(const QPoint &position);

private:
    // Negative upwards, positive downwards, 0 outside the margins.
    int speedAt(const QPoint &position) const;

    QAbstractScrollArea *m_area;
    QTimer *m_timer;
    QPoint m_position;
};
