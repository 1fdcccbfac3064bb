#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <functional>

class QAbstractItemModel;
class QAbstractItemView;
class QModelIndex;
class QVariantAnimation;

// Slides the rows of a list from where they were drawn to their new places whenever the
// model moves, inserts or removes rows, with a lightly damped spring. Rows are told apart by
// a key (the object a row shows), so the animation follows objects, not row numbers. The
// item delegate asks offset() for the vertical shift to paint a row with.
class RowMoveAnimator : public QObject
{
    Q_OBJECT

public:
    using KeyFunction = std::function<quintptr(int row)>;

    RowMoveAnimator(QAbstractItemView *view, QAbstractItemModel *model, KeyFunction key);

    // Vertical shift in pixels for the row at index, for rows rowPitch pixels apart.
    qreal offset(const QModelIndex &index, qreal rowPitch) const;
    bool isRunning() const;

    // The spring: response 0.5 s, damping fraction 0.7; progress 0..1 over duration().
    static qreal springProgress(qreal t);
    static int duration();

private:
    void snapshot();
    void relayout();
    qreal currentOffset(quintptr key) const;

    QAbstractItemView *m_view;
    QAbstractItemModel *m_model;
    KeyFunction m_key;
    QVariantAnimation *m_animation;
    int m_depth = 0;
    // Where each row was drawn (in rows) just before the change.
    QHash<quintptr, qreal> m_before;
    // Offset (in rows) each row starts the running animation with.
    QHash<quintptr, qreal> m_start;
    QList<quintptr> m_keys;
};
