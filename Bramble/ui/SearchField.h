#pragma once

#include <QLineEdit>

// The search field above the list. Escape clears it; the arrow keys and Return act on the
// results below it, so the hands stay on the keyboard from typing to opening.
class SearchField : public QLineEdit
{
    Q_OBJECT

public:
    static inline const QString placeholder = QStringLiteral("搜索所有链接");

    explicit SearchField(QWidget *parent = nullptr);

Q_SIGNALS:
    // Escape: the field is empty now and the group's list comes back.
    void cleared();
    // Up (-1) or Down (+1).
    void stepRequested(int step);
    void activateRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
