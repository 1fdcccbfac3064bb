#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

// Message boxes that show user or page text: every text is plain (a name such as
// "<img src=...>" is shown as typed, never read as markup), and none blocks the event loop.
namespace Alerts {

// Makes the text and the informative text of a box plain; call after setting them.
void makePlain(QMessageBox *box);
// Widens the box's labels so that no line of their text is broken (Chinese text would
// otherwise wrap anywhere, inside a word or a number), up to a sensible width; call after
// setting the texts.
void fitText(QMessageBox *box);

// Opens a plain alert with one OK button, window-modal to parent when there is one, and
// deleted when closed.
QMessageBox *show(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
    const QString &informativeText = QString());

// Tells the user why these stored addresses were not opened.
QMessageBox *cannotOpen(QWidget *parent, const QStringList &urlStrings);

} // namespace Alerts
