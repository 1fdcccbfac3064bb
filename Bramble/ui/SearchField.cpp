#include "ui/SearchField.h"

#include "ui/Symbols.h"

#include <QKeyEvent>

SearchField::SearchField(QWidget *parent)
    : QLineEdit(parent)
{
    setObjectName(QStringLiteral("searchField"));
    setPlaceholderText(placeholder);
    setClearButtonEnabled(true);
    addAction(Symbols::icon(QStringLiteral("magnifyingglass")), QLineEdit::LeadingPosition);
}

void SearchField::keyPressEvent(QKeyEvent *event)
{
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Escape:
        clear();
        Q_EMIT cleared();
        event->accept();
        return;
    case Qt::Key_Up:
        Q_EMIT stepRequested(-1);
        event->accept();
        return;
    case Qt::Key_Down:
        Q_EMIT stepRequested(1);
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Q_EMIT activateRequested();
        event->accept();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}
