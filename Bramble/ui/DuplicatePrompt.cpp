#include "ui/DuplicatePrompt.h"

#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/DuplicateLinks.h"
#include "model/LinkAdder.h"
#include "ui/Alerts.h"
#include "ui/SearchPane.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {
int bypassDepth = 0;
} // namespace

DuplicatePrompt::Bypass::Bypass()
{
    ++bypassDepth;
}

DuplicatePrompt::Bypass::~Bypass()
{
    --bypassDepth;
}

QMessageBox *DuplicatePrompt::ask(
    QWidget *parent, ModelContext *context, const QString &typed, std::function<void()> addAnyway)
{
    if (bypassDepth > 0 || !context || typed.isEmpty() || LinkAdder::refusedScheme(typed))
        return nullptr;
    const QList<BookmarkItem *> existing = DuplicateLinks::of(context)->find(typed);
    if (existing.isEmpty())
        return nullptr;
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("链接已存在"),
        DuplicateLinks::notice(existing), QMessageBox::NoButton, parent);
    box->setObjectName(QStringLiteral("duplicateAlert"));
    box->setInformativeText(LinkAdder::normalizedAddress(typed));
    Alerts::makePlain(box);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QPushButton *add = box->addButton(QStringLiteral("仍然添加"), QMessageBox::AcceptRole);
    QPushButton *show = box->addButton(QStringLiteral("显示已有链接"), QMessageBox::ActionRole);
    box->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    add->setObjectName(QStringLiteral("addAnyway"));
    show->setObjectName(QStringLiteral("showExisting"));
    const QPointer<BookmarkItem> first(existing.first());
    const QPointer<QWidget> from(parent);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [=](QAbstractButton *button) {
        if (button == add) {
            Bypass bypass;
            addAnyway();
        } else if (button == show && first && !first->isDeleted()) {
            reveal(from, first);
        }
    });
    box->open();
    return box;
}

void DuplicatePrompt::reveal(QWidget *from, BookmarkItem *item)
{
    // A sheet is a window of its own; the pane is in the window it was opened from.
    for (QWidget *window = from ? from->window() : nullptr; window;
         window = window->parentWidget() ? window->parentWidget()->window() : nullptr) {
        if (auto *pane = window->findChild<SearchPane *>()) {
            pane->reveal(item);
            return;
        }
    }
}

DuplicateNotice::DuplicateNotice(QWidget *parent)
    : QWidget(parent)
    , m_label(new QLabel(this))
    , m_show(new QPushButton(QStringLiteral("显示已有链接"), this))
{
    setObjectName(QStringLiteral("duplicateNotice"));
    m_label->setTextFormat(Qt::PlainText);
    m_show->setAutoDefault(false);
    m_show->setFlat(true);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label, 1);
    layout->addWidget(m_show);
    hide();
    connect(m_show, &QPushButton::clicked, this, [this] {
        const QPointer<BookmarkItem> existing = m_existing;
        QWidget *from = parentWidget() ? parentWidget()->parentWidget() : nullptr;
        Q_EMIT revealing();
        if (existing && !existing->isDeleted())
            DuplicatePrompt::reveal(from, existing);
    });
}

void DuplicateNotice::check(BookmarkItem *link, const QString &urlString)
{
    const QList<BookmarkItem *> existing = link && link->context()
        ? DuplicateLinks::of(link->context())->find(urlString, link)
        : QList<BookmarkItem *>();
    m_existing = existing.isEmpty() ? nullptr : existing.first();
    m_label->setText(DuplicateLinks::notice(existing));
    setVisible(!existing.isEmpty());
}
