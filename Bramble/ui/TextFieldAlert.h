#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

// A small modal alert with a title (the window's own: the body does not repeat it), one text field, a cancel
// button and an action button that stays disabled while the field is empty or its text is refused. Either
// button closes it; the action button emits accepted(), the cancel button (and Escape) rejected().
class TextFieldAlert : public QDialog
{
    Q_OBJECT

public:
    TextFieldAlert(const QString &title, const QString &placeholder, const QString &actionText,
        QWidget *parent = nullptr);

    // Returns why a text cannot be accepted, or empty text when it can.
    using Validator = std::function<QString(const QString &text)>;

    QString text() const;
    void setText(const QString &text);
    // The reason appears under the field as the user types, and the action button waits.
    void setValidator(Validator validator);
    QLabel *reasonLabel() const { return m_reasonLabel; }
    // The validator's answer for the current text.
    QString reason() const;

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

    QLineEdit *m_field;
    QLabel *m_reasonLabel;
    Validator m_validator;
    QPushButton *m_cancelButton;
    QPushButton *m_actionButton;
};
