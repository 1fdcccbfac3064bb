#pragma once

#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPixmap>
#include <QPointer>
#include <QStyledItemDelegate>

class ModelContext;
class QAbstractItemView;
class QTimer;
class RowMoveAnimator;

// Draws one link of the bookmark list: the site icon (or a globe), the title, a one-line
// caption and the share and edit buttons that fade in while the pointer is over the row.
// A delegate rather than a widget per row, so groups of thousands of links stay fast. The
// list reports the pointer with setHoveredItem() and forwards clicks on the buttons.
class BookmarkRowView : public QStyledItemDelegate
{
    Q_OBJECT

public:
    enum class Button { none, share, edit };

    static constexpr int rowHeight = 60;
    static constexpr int rowSpacing = 8;
    static constexpr int horizontalMargin = 10;
    static constexpr int iconSide = 36;
    static constexpr int buttonSide = 20;
    static constexpr int elementSpacing = 12;
    static constexpr qreal hoverScale = 1.01;
    static inline const QString untitled = QStringLiteral("无标题");

    BookmarkRowView(QAbstractItemView *view, ModelContext *context, QObject *parent = nullptr);

    void setAnimator(RowMoveAnimator *animator) { m_animator = animator; }

    void paint(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
        const QModelIndex &index) override;

    // Draws the row of item in the rectangle the view gave it.
    void paintRow(QPainter *painter, const QStyleOptionViewItem &option, BookmarkItem *item) const;

    // The pointer is inside this link's row (null: over no row).
    BookmarkItem *hoveredItem() const { return m_hovered; }
    void setHoveredItem(BookmarkItem *item);
    bool isHovering(const BookmarkItem *item) const { return item && item == m_hovered; }
    // 0 (resting) … 1 (hovered), following the hover spring; may overshoot slightly.
    qreal hoverProgress(const BookmarkItem *item) const;
    bool isAnimating() const;

    // The row button chosen with the keyboard (Left/Right in the list); none for the row itself.
    Button keyboardButton() const { return m_keyboardButton; }
    void setKeyboardButton(Button button);

    // The rounded card inside the rectangle the view gives a row.
    QRect cardRect(const QRect &itemRect) const;
    QRect buttonRect(const QRect &itemRect, Button button) const;
    // The button under a point of the viewport; only shown buttons count.
    Button buttonAt(const QRect &itemRect, const QPoint &position, const BookmarkItem *item) const;

    // The share button exists only for an address that parses.
    static bool hasShareButton(const BookmarkItem *item);
    static QString titleText(const BookmarkItem *item);
    static QString captionText(const BookmarkItem *item);
    // The decoded icon, or a null pixmap when the globe stands in for it.
    QPixmap iconFor(const BookmarkItem *item) const;

    // The hover spring: response 0.6 s, damping fraction 0.7.
    static qreal springProgress(qreal seconds);
    static int hoverDuration();

private:
    struct HoverAnimation
    {
        qreal from = 0;
        qreal to = 0;
        QElapsedTimer clock;
    };

    void startAnimation(const BookmarkItem *item, qreal to);
    void tick();

    QAbstractItemView *m_view;
    RowMoveAnimator *m_animator = nullptr;
    QPointer<BookmarkItem> m_hovered;
    Button m_keyboardButton = Button::none;
    QHash<const BookmarkItem *, HoverAnimation> m_animations;
    QTimer *m_ticker;
    // Decoded icons of rows painted so far; a null pixmap records bytes that are no image.
    mutable QHash<const BookmarkItem *, QPixmap> m_icons;
};
