#pragma once

#include <QMenu>

// A context menu that can show some of its items as destructive (in red), the way a
// platform marks "删除".
class ContextMenu : public QMenu
{
    Q_OBJECT

public:
    explicit ContextMenu(QWidget *parent = nullptr);

    static void setDestructive(QAction *action, bool destructive = true);
    static bool isDestructive(const QAction *action);

    QAction *addDestructiveAction(const QString &text);

protected:
    void initStyleOption(QStyleOptionMenuItem *option, const QAction *action) const override;
};
