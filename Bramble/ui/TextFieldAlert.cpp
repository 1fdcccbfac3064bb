#include "ui/TextFieldAlert.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TextFieldAlert::TextFieldAlert(
    const QString &title, const QString &placeholder, const QString &actionText, QWidget *parent)
    : QDialog(parent)
    , m_field(new QLineEdit(this))
    , m_reasonLabel(new QLabel(this))
    , m_cancelButton(new QPushButton(QStringLiteral("取消"), this))
    , m_actionButton(new QPushButton(actionText, this))
{
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setSizeGripEnabled(false);

    m_field->setPlaceholderText(placeholder);
    m_field->setClearButtonEnabled(true);
    m_field->setMinimumWidth(300);
    m_field->setAccessibleName(title);

    m_reasonLabel->setObjectName(QStringLiteral("reasonLabel"));
    // The reason may quote what was typed: never read it as markup.
    m_reasonLabel->setTextFormat(Qt::PlainText);
    m_reasonLabel->setWordWrap(true);
    m_reasonLabel->setMaximumWidth(320);
    QPalette reasonPalette = m_reasonLabel->palette();
    reasonPalette.setColor(QPalette::WindowText, QColor(215, 0, 21));
    m_reasonLabel->setPalette(reasonPalette);
    m_reasonLabel->hide();

    m_cancelButton->setAutoDefault(false);
    m_actionButton->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(m_cancelButton, 1);
    buttons->addWidget(m_actionButton, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(12);
    layout->addWidget(m_field);
    layout->addWidget(m_reasonLabel);
    layout->addSpacing(4);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_actionButton, &QPushButton::clicked, this, [this] {
        // Enter on a disabled default button does nothing, so an empty name never gets here.
        if (!m_field->text().isEmpty() && reason().isEmpty())
            accept();
    });
    connect(m_field, &QLineEdit::textChanged, this, [this](const QString &text) {
        updateActionButton();
        Q_EMIT textChanged(text);
    });
    updateActionButton();
}

QString TextFieldAlert::text() const
{
    return m_field->text();
}

void TextFieldAlert::setText(const QString &text)
{
    m_field->setText(text);
    updateActionButton();
}

void TextFieldAlert::present()
{
    open();
    m_field->setFocus(Qt::OtherFocusReason);
    m_field->selectAll();
}

void TextFieldAlert::setValidator(Validator validator)
{
    m_validator = std::move(validator);
    updateActionButton();
}

QString TextFieldAlert::reason() const
{
    return m_validator ? m_validator(m_field->text()) : QString();
}

void TextFieldAlert::updateActionButton()
{
    const QString why = reason();
    m_reasonLabel->setText(why);
    m_reasonLabel->setVisible(!why.isEmpty());
    m_actionButton->setEnabled(!m_field->text().isEmpty() && why.isEmpty());
}
