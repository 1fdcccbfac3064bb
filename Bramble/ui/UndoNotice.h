#pragma once

#include <QWidget>

class BookmarkGroup;
class DeletionUndo;
class QLabel;
class QTimer;
class QToolButton;

// The short-lived line "已删除「…」 · 撤销" under the window's content after a deletion.
// It offers the undo for as long as it shows; once it goes, the deletion is final.
class UndoNotice : public QWidget
{
    Q_OBJECT

public:
    static constexpr int shownMilliseconds = 8000;

    explicit UndoNotice(DeletionUndo *undo, QWidget *parent = nullptr);

    QLabel *messageLabel() const { return m_message; }
    QToolButton *undoButton() const { return m_undoButton; }
    QTimer *timer() const { return m_timer; }

    // What 撤销 and Ctrl+Z do; false when there was nothing to undo.
    bool undoLast();
    // The time is up: hide, and leave nothing to undo.
    void expire();

Q_SIGNALS:
    // After an undo: the group that came back, or the group of the link that did.
    void restored(BookmarkGroup *group, bool wasGroup);

private:
    void showFor(const QString &name);

    DeletionUndo *m_undo;
    QLabel *m_message;
    QToolButton *m_undoButton;
    QTimer *m_timer;
};
