#include "ui/Alerts.h"

#include "ui/AddressTexts.h"

#include <QLabel>
#include <algorithm>

namespace {
constexpr int listedAtMost = 8;
// Wider lines (long addresses) may wrap; they are not sentences.
constexpr int widestUnbrokenLine = 560;
} // namespace

void Alerts::makePlain(QMessageBox *box)
{
    box->setTextFormat(Qt::PlainText);
    // The box's own setting reaches only its main text.
    if (auto *informative = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
}

void Alerts::fitText(QMessageBox *box)
{
    for (const char *name : { "qt_msgbox_label", "qt_msgbox_informativelabel" }) {
        auto *label = box->findChild<QLabel *>(QLatin1String(name));
        if (!label)
            continue;
        int widest = 0;
        for (const QString &line : label->text().split(QLatin1Char('\n')))
            widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
        // A few pixels over the text's own width: the layout rounds.
        label->setMinimumWidth(std::min(widest + 4, widestUnbrokenLine));
    }
}

QMessageBox *Alerts::show(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
    const QString &informativeText)
{
    auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (!informativeText.isEmpty())
        box->setInformativeText(informativeText);
    makePlain(box);
    fitText(box);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::NonModal);
    box->open();
    return box;
}

QMessageBox *Alerts::cannotOpen(QWidget *parent, const QStringList &urlStrings)
{
    if (urlStrings.isEmpty())
        return nullptr;
    const QString title = QStringLiteral("无法打开链接");
    QMessageBox *box = nullptr;
    if (urlStrings.size() == 1) {
        box = show(parent, QMessageBox::Warning, title, AddressTexts::cannotOpen(urlStrings.first()),
            urlStrings.first());
    } else {
        QStringList lines;
        for (const QString &urlString : urlStrings.mid(0, listedAtMost))
            lines << (urlString.isEmpty() ? QStringLiteral("（空）") : urlString) + QStringLiteral("：")
                    + AddressTexts::cannotOpen(urlString);
        if (urlStrings.size() > listedAtMost)
            lines << QStringLiteral("……还有 %1 个").arg(urlStrings.size() - listedAtMost);
        box = show(parent, QMessageBox::Warning, title,
            QStringLiteral("有 %1 个链接没有打开：Bramble 只打开 http 和 https 网址。")
                .arg(urlStrings.size()),
            lines.join(QLatin1Char('\n')));
    }
    box->setObjectName(QStringLiteral("cannotOpenAlert"));
    return box;
}
