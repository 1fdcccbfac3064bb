#pragma once

#include <QStyledItemDelegate>
#include <functional>

class QListView;
class RowMoveAnimator;

// A sidebar row: the folder symbol and the group's name, drawn where the move animation
// currently has the row, with the selection, the keyboard's focus ring and the highlight of a
// group a link is dragged over.
class GroupRowDelegate : public QStyledItemDelegate
{
public:
    static constexpr int rowHeight = 28;

    GroupRowDelegate(QListView *view, RowMoveAnimator *animator, std::function<bool(int row)> isDropTarget);

    void paint(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QListView *m_view;
    RowMoveAnimator *m_animator;
    std::function<bool(int row)> m_isDropTarget;
};
