#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// A small modal alert with a title, one text field, a cancel button and an action button that
// stays disabled while the field is empty. Either button closes it; the action button emits
// accepted(), the cancel button (and Escape) rejected().
class TextFieldAlert : public QDialog
{
    Q_OBJECT

public:
    TextFieldAlert(const QString &title, const QString &placeholder, const QString &actionText,
        QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);

    QLineEdit *field() const { return m_field; }
    QPushButton *actionButton() const { return m_actionButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }

    // Shows the alert window-modally without blocking; the field gets the focus with its text
    // selected.
    void present();

Q_SIGNALS:
    void textChanged(const QString &text);

private:
    void updateActionButton();

    QLabel *m_titleLabel;
    QLineEdit *m_field;
    QPushButton *m_cancelButton;
    QPushButton *m_actionButton;
};
