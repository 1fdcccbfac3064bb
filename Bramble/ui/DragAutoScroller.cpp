#include "ui/DragAutoScroller.h"

#include <QAbstractScrollArea>
#include <QScrollBar>
#include <QTimer>

DragAutoScroller::DragAutoScroller(QAbstractScrollArea *area)
    : QObject(area)
    , m_area(area)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(intervalMilliseconds);
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (!step())
            stop();
    });
}

int DragAutoScroller::speedAt(const QPoint &position) const
{
    const int height = m_area->viewport()->height();
    const int fromTop = position.y();
    const int fromBottom = height - 1 - position.y();
    const auto speed = [](int distance) { return std::max(1, fastestStep * (margin - distance) / margin); };
    if (fromTop < margin && fromTop <= fromBottom)
        return -speed(std::max(0, fromTop));
    if (fromBottom < margin)
        return speed(std::max(0, fromBottom));
    return 0;
}

void DragAutoScroller::follow(const QPoint &position)
{
    m_position = position;
    if (speedAt(position) == 0) {
        stop();
        return;
    }
    if (!m_timer->isActive())
        m_timer->start();
}

void DragAutoScroller::stop()
{
    m_timer->stop();
}

bool DragAutoScroller::isScrolling() const
{
    return m_timer->isActive();
}

bool DragAutoScroller::step()
{
    const int speed = speedAt(m_position);
    QScrollBar *bar = m_area->verticalScrollBar();
    const int before = bar->value();
    bar->setValue(before + speed);
    if (bar->value() == before)
        return false;
    Q_EMIT scrolled(m_position);
    return true;
}
