#include "ui/BookmarkRowView.h"

#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/ModelContext.h"
#include "ui/LinkOpener.h"
#include "ui/RowMoveAnimator.h"
#include "ui/Symbols.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QToolTip>
#include <cmath>

namespace {
constexpr qreal hoverResponse = 0.6;
constexpr qreal hoverDamping = 0.7;
constexpr int hoverDurationMs = 800;
constexpr int cardPaddingX = 12;
constexpr qreal cardRadius = 10;
constexpr qreal iconRadius = 8;
constexpr int globeSide = 20;
constexpr int symbolPoint = 14;
constexpr int maxCachedIcons = 512;

QColor secondaryColor(const QPalette &palette)
{
    QColor color = palette.color(QPalette::Text);
    color.setAlphaF(0.55f);
    return color;
}

QColor editBlue()
{
    return QColor(0, 122, 255);
}

BookmarkItem *itemOf(const QModelIndex &index)
{
    if (const auto *model = qobject_cast<const BookmarkListModel *>(index.model()))
        return model->itemAt(index.row());
    return index.data(BookmarkListModel::ItemRole).value<BookmarkItem *>();
}

qreal lerp(qreal a, qreal b, qreal t)
{
    return a + (b - a) * t;
}
} // namespace

BookmarkRowView::BookmarkRowView(QAbstractItemView *view, ModelContext *context, QObject *parent)
    : QStyledItemDelegate(parent ? parent : view)
    , m_view(view)
    , m_ticker(new QTimer(this))
{
    m_ticker->setInterval(16);
    connect(m_ticker, &QTimer::timeout, this, &BookmarkRowView::tick);
    if (context) {
        connect(context, &ModelContext::itemFieldsChanged, this, [this](BookmarkItem *item, int fields) {
            if (fields & BookmarkItem::IconField)
                m_icons.remove(item);
        });
        connect(context, &ModelContext::itemAboutToBeRemoved, this, [this](BookmarkItem *item) {
            m_icons.remove(item);
            m_animations.remove(item);
        });
    }
}

qreal BookmarkRowView::springProgress(qreal seconds)
{
    if (seconds <= 0)
        return 0;
    // Under-damped oscillator released from rest at distance 1.
    const qreal omega = 2 * M_PI / hoverResponse;
    const qreal decay = hoverDamping * omega;
    const qreal omegaD = omega * std::sqrt(1 - hoverDamping * hoverDamping);
    return 1
        - std::exp(-decay * seconds)
        * (std::cos(omegaD * seconds) + decay / omegaD * std::sin(omegaD * seconds));
}

int BookmarkRowView::hoverDuration()
{
    return hoverDurationMs;
}

void BookmarkRowView::setHoveredItem(BookmarkItem *item)
{
    if (item == m_hovered)
        return;
    if (m_hovered)
        startAnimation(m_hovered, 0);
    m_hovered = item;
    if (item)
        startAnimation(item, 1);
    m_view->viewport()->update();
}

void BookmarkRowView::startAnimation(const BookmarkItem *item, qreal to)
{
    HoverAnimation animation;
    animation.from = hoverProgress(item);
    animation.to = to;
    animation.clock.start();
    m_animations.insert(item, animation);
    if (!m_ticker->isActive())
        m_ticker->start();
}

qreal BookmarkRowView::hoverProgress(const BookmarkItem *item) const
{
    const auto it = m_animations.constFind(item);
    if (it == m_animations.constEnd())
        return isHovering(item) ? 1.0 : 0.0;
    const qint64 elapsed = it->clock.elapsed();
    if (elapsed >= hoverDurationMs)
        return it->to;
    return lerp(it->from, it->to, springProgress(elapsed / 1000.0));
}

bool BookmarkRowView::isAnimating() const
{
    return !m_animations.isEmpty();
}

void BookmarkRowView::tick()
{
    for (auto it = m_animations.begin(); it != m_animations.end();) {
        if (it->clock.elapsed() >= hoverDurationMs)
            it = m_animations.erase(it);
        else
            ++it;
    }
    if (m_animations.isEmpty())
        m_ticker->stop();
    m_view->viewport()->update();
}

QSize BookmarkRowView::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(option.rect.width() > 0 ? option.rect.width() : 200, rowHeight);
}

QRect BookmarkRowView::cardRect(const QRect &itemRect) const
{
    const int width = m_view->viewport()->width() - 2 * horizontalMargin;
    return QRect(horizontalMargin, itemRect.top(), qMax(width, 0), rowHeight);
}

QRect BookmarkRowView::buttonRect(const QRect &itemRect, Button button) const
{
    const QRect card = cardRect(itemRect);
    const int top = card.top() + (card.height() - buttonSide) / 2;
    const int editLeft = card.right() + 1 - cardPaddingX - buttonSide;
    switch (button) {
    case Button::edit:
        return QRect(editLeft, top, buttonSide, buttonSide);
    case Button::share:
        return QRect(editLeft - elementSpacing - buttonSide, top, buttonSide, buttonSide);
    case Button::none:
        break;
    }
    return {};
}

BookmarkRowView::Button BookmarkRowView::buttonAt(
    const QRect &itemRect, const QPoint &position, const BookmarkItem *item) const
{
    if (!item)
        return Button::none;
    if (buttonRect(itemRect, Button::edit).contains(position))
        return Button::edit;
    if (hasShareButton(item) && buttonRect(itemRect, Button::share).contains(position))
        return Button::share;
    return Button::none;
}

void BookmarkRowView::setKeyboardButton(Button button)
{
    if (button == m_keyboardButton)
        return;
    m_keyboardButton = button;
    m_view->viewport()->update();
}

bool BookmarkRowView::hasShareButton(const BookmarkItem *item)
{
    return item && LinkOpener::parse(item->urlString()).has_value();
}

QString BookmarkRowView::titleText(const BookmarkItem *item)
{
    const std::optional<QString> title = item->title();
    return title ? *title : untitled;
}

QString BookmarkRowView::captionText(const BookmarkItem *item)
{
    const std::optional<QString> summary = item->summary();
    return summary ? *summary : item->urlString();
}

QPixmap BookmarkRowView::iconFor(const BookmarkItem *item) const
{
    const auto cached = m_icons.constFind(item);
    if (cached != m_icons.constEnd())
        return *cached;
    QPixmap pixmap;
    if (const std::optional<QByteArray> data = item->iconData(); data && !data->isEmpty()) {
        QImage image;
        if (image.loadFromData(*data) && !image.isNull()) {
            // Keep a copy a little larger than shown so high-density screens stay sharp.
            const int side = iconSide * 2;
            pixmap = QPixmap::fromImage(
                image.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        }
    }
    if (m_icons.size() >= maxCachedIcons)
        m_icons.clear();
    m_icons.insert(item, pixmap);
    return pixmap;
}

void BookmarkRowView::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    BookmarkItem *item = itemOf(index);
    if (!item)
        return;
    QStyleOptionViewItem shifted = option;
    if (m_animator)
        shifted.rect.translate(0, qRound(m_animator->offset(index, rowHeight + rowSpacing)));
    paintRow(painter, shifted, item);
}

void BookmarkRowView::paintRow(
    QPainter *painter, const QStyleOptionViewItem &option, BookmarkItem *item) const
{
    const QPalette &palette = option.palette;
    const QRectF card = cardRect(option.rect);
    const qreal hover = hoverProgress(item);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);

    const QPointF centre = card.center();
    const qreal scale = lerp(1.0, hoverScale, hover);
    painter->translate(centre);
    painter->scale(scale, scale);
    painter->translate(-centre);

    // A soft shadow from a few widening, fading outlines: cheap enough for every visible row.
    const qreal shadowAlpha = qMax(0.0, lerp(0.05, 0.15, hover));
    const qreal shadowRadius = qMax(0.0, lerp(2.0, 5.0, hover));
    painter->setPen(Qt::NoPen);
    constexpr int layers = 4;
    for (int layer = layers; layer >= 1; --layer) {
        const qreal spread = shadowRadius * layer / layers;
        QColor shadow(0, 0, 0);
        shadow.setAlphaF(float(shadowAlpha / layers * (layers - layer + 1) / 2.0));
        painter->setBrush(shadow);
        painter->drawRoundedRect(card.translated(0, 1).adjusted(-spread, -spread, spread, spread),
            cardRadius + spread, cardRadius + spread);
    }

    QColor background = palette.color(QPalette::Base);
    background.setAlphaF(float(qBound(0.0, lerp(0.4, 0.8, hover), 1.0)));
    painter->setBrush(background);
    painter->drawRoundedRect(card, cardRadius, cardRadius);

    // The keyboard's place: a ring around the current row while the list has the focus.
    const bool focused = option.state & QStyle::State_HasFocus;
    const QColor ring = palette.color(QPalette::Active, QPalette::Highlight);
    if (focused) {
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(ring, 2));
        painter->drawRoundedRect(card.adjusted(1, 1, -1, -1), cardRadius - 1, cardRadius - 1);
        painter->setPen(Qt::NoPen);
    }

    // Icon.
    const QRectF iconRect(
        card.left() + cardPaddingX, card.top() + (card.height() - iconSide) / 2, iconSide, iconSide);
    QPainterPath iconClip;
    iconClip.addRoundedRect(iconRect, iconRadius, iconRadius);
    const QPixmap icon = iconFor(item);
    if (!icon.isNull()) {
        painter->save();
        painter->setClipPath(iconClip);
        painter->drawPixmap(iconRect, icon, QRectF(icon.rect()));
        painter->restore();
    } else {
        QColor gray(Qt::gray);
        gray.setAlphaF(0.1f);
        painter->fillPath(iconClip, gray);
        const QRectF globe(iconRect.center().x() - globeSide / 2.0, iconRect.center().y() - globeSide / 2.0,
            globeSide, globeSide);
        Symbols::icon(QStringLiteral("globe"), secondaryColor(palette)).paint(painter, globe.toRect());
    }

    // Buttons keep their place while transparent, so the text never reflows on hover.
    const QRect editRect = buttonRect(option.rect, Button::edit);
    const QRect shareRect = buttonRect(option.rect, Button::share);
    const bool share = hasShareButton(item);
    // The focused row shows its buttons, so the keyboard can reach them.
    const qreal buttonOpacity = focused ? 1.0 : qBound(0.0, hover, 1.0);
    if (focused && m_keyboardButton != Button::none) {
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(ring, 2));
        painter->drawRoundedRect(
            QRectF(buttonRect(option.rect, m_keyboardButton)).adjusted(-2, -2, 2, 2), 5, 5);
        painter->setPen(Qt::NoPen);
    }
    if (buttonOpacity > 0) {
        painter->save();
        painter->setOpacity(painter->opacity() * buttonOpacity);
        const auto symbolRect = [](const QRect &rect) {
            return QRect(rect.center().x() - symbolPoint / 2 + 1, rect.center().y() - symbolPoint / 2 + 1,
                symbolPoint, symbolPoint);
        };
        if (share)
            Symbols::icon(QStringLiteral("square.and.arrow.up"), secondaryColor(palette))
                .paint(painter, symbolRect(shareRect));
        Symbols::icon(QStringLiteral("square.and.pencil"), editBlue()).paint(painter, symbolRect(editRect));
        painter->restore();
    }

    // Text column between the icon and the buttons.
    const int textLeft = int(iconRect.right()) + elementSpacing;
    const int textRight = (share ? shareRect.left() : editRect.left()) - elementSpacing;
    const int textWidth = qMax(0, textRight - textLeft);
    QFont titleFont = option.font;
    titleFont.setBold(true);
    QFont captionFont = option.font;
    captionFont.setPointSizeF(option.font.pointSizeF() > 0 ? option.font.pointSizeF() * 0.85 : 9);
    const QFontMetrics titleMetrics(titleFont);
    const QFontMetrics captionMetrics(captionFont);
    const int gap = 2;
    const int textHeight = titleMetrics.height() + gap + captionMetrics.height();
    const int textTop = int(card.top() + (card.height() - textHeight) / 2);

    painter->setFont(titleFont);
    painter->setPen(palette.color(QPalette::Text));
    painter->drawText(QRect(textLeft, textTop, textWidth, titleMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter,
        titleMetrics.elidedText(titleText(item), Qt::ElideRight, textWidth));
    painter->setFont(captionFont);
    painter->setPen(secondaryColor(palette));
    painter->drawText(
        QRect(textLeft, textTop + titleMetrics.height() + gap, textWidth, captionMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter,
        captionMetrics.elidedText(captionText(item), Qt::ElideRight, textWidth));
    painter->restore();
}

bool BookmarkRowView::helpEvent(
    QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event && event->type() == QEvent::ToolTip) {
        switch (buttonAt(option.rect, event->pos(), itemOf(index))) {
        case Button::share:
            QToolTip::showText(event->globalPos(), QStringLiteral("分享链接"), view);
            return true;
        case Button::edit:
            QToolTip::showText(event->globalPos(), QStringLiteral("编辑链接"), view);
            return true;
        case Button::none:
            break;
        }
        QToolTip::hideText();
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}
