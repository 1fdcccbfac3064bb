#include "ui/EditLinkView.h"

#include "model/BookmarkItem.h"
#include "model/LinkAdder.h"
#include "model/ModelContext.h"
#include "ui/AddressTexts.h"
#include "ui/DuplicatePrompt.h"

#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// QLineEdit may hand out a null string for an empty field, and the store keeps a null string
// as an absent value; an emptied field must stay empty text.
QString typed(const QString &text)
{
    return text.isNull() ? QString(0, QChar()) : text;
}
} // namespace

EditLinkView::EditLinkView(BookmarkItem *bookmark, QWidget *parent)
    : QDialog(parent)
    , m_bookmark(bookmark)
    , m_title(new QLineEdit(this))
    , m_url(new QLineEdit(this))
    , m_urlReason(new QLabel(this))
    , m_summary(new QLineEdit(this))
    , m_cancel(new QPushButton(QStringLiteral("取消"), this))
    , m_done(new QPushButton(QStringLiteral("完成"), this))
{
    setObjectName(QStringLiteral("editLinkView"));
    setWindowTitle(QStringLiteral("编辑链接"));
    setWindowModality(Qt::WindowModal);
    setFixedSize(sheetWidth, sheetHeight);

    m_title->setObjectName(QStringLiteral("titleField"));
    m_url->setObjectName(QStringLiteral("urlField"));
    m_summary->setObjectName(QStringLiteral("summaryField"));

    auto *formFrame = new QFrame(this);
    formFrame->setFrameShape(QFrame::StyledPanel);
    auto *form = new QFormLayout(formFrame);
    form->addRow(QStringLiteral("标题"), m_title);
    form->addRow(QStringLiteral("网址"), m_url);
    form->addRow(QStringLiteral("简介"), m_summary);

    m_urlReason->setObjectName(QStringLiteral("urlReason"));
    m_urlReason->setTextFormat(Qt::PlainText);
    m_urlReason->setWordWrap(true);
    QPalette reasonPalette = m_urlReason->palette();
    reasonPalette.setColor(QPalette::WindowText, QColor(215, 0, 21));
    m_urlReason->setPalette(reasonPalette);
    m_urlReason->hide();

    m_cancel->setAutoDefault(false);
    m_done->setDefault(true);
    // The filled look of the prominent button.
    QPalette prominent = m_done->palette();
    prominent.setColor(QPalette::Button, prominent.color(QPalette::Highlight));
    prominent.setColor(QPalette::ButtonText, prominent.color(QPalette::HighlightedText));
    m_done->setPalette(prominent);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_done);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(20);
    layout->addWidget(formFrame);
    layout->addWidget(m_urlReason);
    auto *duplicate = new DuplicateNotice(this);
    layout->addWidget(duplicate);
    connect(duplicate, &DuplicateNotice::revealing, this, &EditLinkView::dismiss);
    layout->addLayout(buttons);

    refreshFields();

    // textEdited, not textChanged: only what the user types counts as an edit.
    connect(m_title, &QLineEdit::textEdited, this, [this] { m_edited |= TitleField; });
    connect(m_url, &QLineEdit::textEdited, this, [this] {
        m_edited |= UrlField;
        updateReason();
        findChild<DuplicateNotice *>()->check(m_bookmark, LinkAdder::normalizedAddress(m_url->text()));
    });
    connect(m_summary, &QLineEdit::textEdited, this, [this] { m_edited |= SummaryField; });
    // Return presses the default button, Escape rejects.
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);

    if (bookmark) {
        // Metadata may still arrive while the sheet is open.
        connect(bookmark, &BookmarkItem::changed, this, &EditLinkView::refreshFields);
        if (ModelContext *context = bookmark->context()) {
            connect(context, &ModelContext::itemAboutToBeRemoved, this, [this](BookmarkItem *item) {
                if (item == m_bookmark)
                    dismiss();
            });
        }
    }
}

bool EditLinkView::alive() const
{
    return m_bookmark && !m_bookmark->isDeleted();
}

void EditLinkView::refreshFields()
{
    if (!alive())
        return;
    const auto show = [this](QLineEdit *field, Field which, const QString &text) {
        // Only fields the user has not touched, and only when they differ, so the cursor stays
        // where the user is typing.
        if (!(m_edited & which) && field->text() != text)
            field->setText(text);
    };
    show(m_title, TitleField, m_bookmark->title().value_or(QString()));
    show(m_url, UrlField, m_bookmark->urlString());
    show(m_summary, SummaryField, m_bookmark->summary().value_or(QString()));
}

void EditLinkView::updateReason()
{
    const QString why = (m_edited & UrlField) ? AddressTexts::addressProblem(m_url->text()) : QString();
    m_urlReason->setText(why);
    m_urlReason->setVisible(!why.isEmpty());
    m_done->setEnabled(why.isEmpty());
}

bool EditLinkView::commit()
{
    if (!alive())
        return true;
    updateReason();
    if (!m_urlReason->text().isEmpty())
        return false;
    if (m_edited & TitleField)
        m_bookmark->setTitle(typed(m_title->text()));
    if (m_edited & UrlField)
        m_bookmark->setUrlString(LinkAdder::normalizedAddress(m_url->text()));
    if (m_edited & SummaryField)
        m_bookmark->setSummary(typed(m_summary->text()));
    return true;
}

void EditLinkView::present()
{
    open();
    m_title->setFocus(Qt::OtherFocusReason);
}

void EditLinkView::dismiss()
{
    done(QDialog::Rejected);
}

void EditLinkView::done(int result)
{
    // A refused address keeps the sheet open with its reason, for correcting.
    if (result == QDialog::Accepted && !commit())
        return;
    QDialog::done(result);
}
