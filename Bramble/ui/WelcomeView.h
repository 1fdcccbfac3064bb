#pragma once

#include <QWidget>

class QLabel;

// What the detail column shows while no group is selected.
class WelcomeView : public QWidget
{
    Q_OBJECT

public:
    explicit WelcomeView(QWidget *parent = nullptr);

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyColors();

    QLabel *m_symbol;
    QLabel *m_title;
    QLabel *m_message;
};
