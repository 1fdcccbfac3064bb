#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// The small window a starting Bramble shows while another process still holds the library:
// why it waits, and a way to give up.
class StoreWaitView : public QWidget
{
    Q_OBJECT

public:
    enum class Reason {
        // A bramble command finishes the link it is on, saves and hands the library over.
        CommandHandingOver,
        // Another process holds the library and does not answer.
        HolderSilent,
    };

    explicit StoreWaitView(QWidget *parent = nullptr);

    void setReason(Reason reason);
    Reason reason() const { return m_reason; }
    QLabel *messageLabel() const { return m_message; }
    QPushButton *quitButton() const { return m_quit; }

    static QString message(Reason reason);

Q_SIGNALS:
    void quitRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Reason m_reason = Reason::HolderSilent;
    QLabel *m_message;
    QPushButton *m_quit;
};
