#pragma once

#include <QWidget>

class DataExchange;
class QLabel;
class QToolButton;

// A quiet line while the links waiting for their metadata are fetched: how many are left,
// and a button that stops the work (the links stay queued for the next start).
class RefreshStatusView : public QWidget
{
    Q_OBJECT

public:
    explicit RefreshStatusView(DataExchange *exchange, QWidget *parent = nullptr);

    // "正在更新 3,210 个链接的信息…"
    static QString text(int remaining);
    QLabel *label() const { return m_label; }
    QToolButton *stopButton() const { return m_stop; }

private:
    void scheduleUpdate();
    void showQueueState();

    DataExchange *m_exchange;
    QLabel *m_label;
    QToolButton *m_stop;
    bool m_updateScheduled = false;
};
