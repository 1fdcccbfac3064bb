#pragma once

#include <QMessageBox>

class QPushButton;

// "确认打开全部?": the one confirmation before a group's links open at once, for the list and
// the tray alike. The window title carries the question; the body only says how many.
class OpenAllAlert : public QMessageBox
{
    Q_OBJECT

public:
    // The tray asks only for more links than this; the list always asks.
    static constexpr int trayAsksAbove = 15;

    explicit OpenAllAlert(QWidget *parent = nullptr);

    // "这将同时打开 N 个网页链接。"
    static QString message(qsizetype count);
    void setCount(qsizetype count);

    QPushButton *openButton() const { return m_open; }
    QPushButton *cancelButton() const { return m_cancel; }

Q_SIGNALS:
    void openConfirmed();

private:
    QPushButton *m_cancel;
    QPushButton *m_open;
};
