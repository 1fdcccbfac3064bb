#include "ui/OpenAllAlert.h"

#include "ui/Alerts.h"

#include <QPushButton>

OpenAllAlert::OpenAllAlert(QWidget *parent)
    : QMessageBox(parent)
{
    setObjectName(QStringLiteral("openAllAlert"));
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    setIcon(QMessageBox::Warning);
    setWindowTitle(QStringLiteral("确认打开全部?"));
    m_cancel = addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    m_open = addButton(QStringLiteral("打开"), QMessageBox::DestructiveRole);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_open->setObjectName(QStringLiteral("openButton"));
    QPalette destructive = m_open->palette();
    destructive.setColor(QPalette::ButtonText, QColor(215, 0, 21));
    m_open->setPalette(destructive);
    setDefaultButton(m_cancel);
    setEscapeButton(m_cancel);
    connect(this, &QMessageBox::buttonClicked, this, [this](QAbstractButton *button) {
        if (button == m_open)
            Q_EMIT openConfirmed();
    });
    setCount(0);
}

QString OpenAllAlert::message(qsizetype count)
{
    return QStringLiteral("这将同时打开 ") + QString::number(count) + QStringLiteral(" 个网页链接。");
}

void OpenAllAlert::setCount(qsizetype count)
{
    setText(message(count));
    Alerts::makePlain(this);
    Alerts::fitText(this);
}
