#include "ui/RowMoveAnimator.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QVariantAnimation>
#include <cmath>

namespace {
constexpr qreal response = 0.5;
constexpr qreal dampingFraction = 0.7;
constexpr int durationMs = 650;

qreal springEasing(qreal progress)
{
    return RowMoveAnimator::springProgress(progress);
}
} // namespace

RowMoveAnimator::RowMoveAnimator(QAbstractItemView *view, QAbstractItemModel *model, KeyFunction key)
    : QObject(view)
    , m_view(view)
    , m_model(model)
    , m_key(std::move(key))
    , m_animation(new QVariantAnimation(this))
{
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    m_animation->setDuration(durationMs);
    QEasingCurve curve;
    curve.setCustomType(springEasing);
    m_animation->setEasingCurve(curve);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this] { m_view->viewport()->update(); });
    connect(m_animation, &QVariantAnimation::finished, this, [this] {
        m_start.clear();
        m_view->viewport()->update();
    });

    const auto before = [this] {
        if (m_depth++ == 0)
            snapshot();
    };
    const auto after = [this] {
        if (m_depth > 0 && --m_depth == 0)
            relayout();
    };
    connect(model, &QAbstractItemModel::layoutAboutToBeChanged, this, before);
    connect(model, &QAbstractItemModel::layoutChanged, this, after);
    connect(model, &QAbstractItemModel::rowsAboutToBeMoved, this, before);
    connect(model, &QAbstractItemModel::rowsMoved, this, after);
    connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this, before);
    connect(model, &QAbstractItemModel::rowsInserted, this, after);
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, before);
    connect(model, &QAbstractItemModel::rowsRemoved, this, after);
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, before);
    connect(model, &QAbstractItemModel::modelReset, this, after);
}

qreal RowMoveAnimator::springProgress(qreal t)
{
    if (t >= 1.0)
        return 1.0;
    if (t <= 0.0)
        return 0.0;
    // Under-damped harmonic oscillator released from rest at distance 1.
    const qreal seconds = t * durationMs / 1000.0;
    const qreal omega = 2 * M_PI / response;
    const qreal decay = dampingFraction * omega;
    const qreal omegaD = omega * std::sqrt(1 - dampingFraction * dampingFraction);
    return 1
        - std::exp(-decay * seconds)
        * (std::cos(omegaD * seconds) + decay / omegaD * std::sin(omegaD * seconds));
}

int RowMoveAnimator::duration()
{
    return durationMs;
}

bool RowMoveAnimator::isRunning() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

qreal RowMoveAnimator::currentOffset(quintptr key) const
{
    if (!isRunning())
        return 0;
    const auto it = m_start.constFind(key);
    if (it == m_start.constEnd())
        return 0;
    return it.value() * (1 - m_animation->currentValue().toReal());
}

qreal RowMoveAnimator::offset(const QModelIndex &index, qreal rowPitch) const
{
    if (!index.isValid() || m_start.isEmpty() || index.row() >= m_keys.size())
        return 0;
    return currentOffset(m_keys.at(index.row())) * rowPitch;
}

void RowMoveAnimator::snapshot()
{
    m_before.clear();
    const int rows = m_model->rowCount();
    for (int row = 0; row < rows; ++row) {
        const quintptr key = m_key(row);
        m_before.insert(key, row + currentOffset(key));
    }
}

void RowMoveAnimator::relayout()
{
    QHash<quintptr, qreal> start;
    const int rows = m_model->rowCount();
    m_keys.clear();
    m_keys.reserve(rows);
    bool moved = false;
    for (int row = 0; row < rows; ++row) {
        const quintptr key = m_key(row);
        m_keys << key;
        const auto it = m_before.constFind(key);
        if (it == m_before.constEnd())
            continue;
        const qreal delta = it.value() - row;
        if (std::abs(delta) > 0.01) {
            start.insert(key, delta);
            moved = true;
        }
    }
    m_before.clear();
    m_animation->stop();
    m_start = start;
    if (moved)
        m_animation->start();
    m_view->viewport()->update();
}
