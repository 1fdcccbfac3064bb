#include "ui/ContextMenu.h"

#include <QStyleOptionMenuItem>

namespace {
constexpr const char *destructiveProperty = "brambleDestructive";
const QColor destructiveColor(0xd7, 0x30, 0x2a);
} // namespace

ContextMenu::ContextMenu(QWidget *parent)
    : QMenu(parent)
{ }

void ContextMenu::setDestructive(QAction *action, bool destructive)
{
    action->setProperty(destructiveProperty, destructive);
}

bool ContextMenu::isDestructive(const QAction *action)
{
    return action && action->property(destructiveProperty).toBool();
}

QAction *ContextMenu::addDestructiveAction(const QString &text)
{
    QAction *action = addAction(text);
    setDestructive(action);
    return action;
}

void ContextMenu::initStyleOption(QStyleOptionMenuItem *option, const QAction *action) const
{
    QMenu::initStyleOption(option, action);
    if (isDestructive(action) && action->isEnabled()) {
        option->palette.setColor(QPalette::Text, destructiveColor);
        option->palette.setColor(QPalette::ButtonText, destructiveColor);
        option->palette.setColor(QPalette::WindowText, destructiveColor);
    }
}
