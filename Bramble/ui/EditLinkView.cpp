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
    , m_openedUrl(bookmark ? bookmark->urlString() : QString())
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

    auto *heading = new QLabel(QStringLiteral("编辑链接"), this);
    QFont headline = heading->font();
    headline.setBold(true);
    heading->setFont(headline);

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
    layout->addWidget(heading);
    layout->addWidget(formFrame);
    layout->addWidget(m_urlReason);
    auto *duplicate = new DuplicateNotice(this);
    layout->addWidget(duplicate);
    connect(duplicate, &DuplicateNotice::revealing, this, &EditLinkView::dismiss);
    layout->addLayout(buttons);

    refreshFields();

    // textEdited, not textChanged: only what the user types is written back.
    connect(m_title, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (alive())
            m_bookmark->setTitle(typed(text));
    });
    connect(m_url, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (!alive())
            return;
        const std::optional<QString> scheme = LinkAdder::refusedScheme(text);
        m_urlReason->setText(scheme ? AddressTexts::refusedScheme(*scheme) : QString());
        m_urlReason->setVisible(scheme.has_value());
        if (!scheme)
            m_bookmark->setUrlString(typed(text));
        findChild<DuplicateNotice *>()->check(m_bookmark);
    });
    connect(m_summary, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (alive())
            m_bookmark->setSummary(typed(text));
    });
    // Escape rejects and Return presses the default button; either way the edits stay.
    connect(m_cancel, &QPushButton::clicked, this, &EditLinkView::dismiss);
    connect(m_done, &QPushButton::clicked, this, &EditLinkView::dismiss);

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
    const auto show = [](QLineEdit *field, const QString &text) {
        // Only when it differs, so the cursor stays where the user is typing.
        if (field->text() != text)
            field->setText(text);
    };
    show(m_title, m_bookmark->title().value_or(QString()));
    // A refused address stays in the field for correcting, though the link keeps the old one.
    if (m_urlReason->text().isEmpty())
        show(m_url, m_bookmark->urlString());
    show(m_summary, m_bookmark->summary().value_or(QString()));
}

void EditLinkView::present()
{
    open();
    m_title->setFocus(Qt::OtherFocusReason);
}

void EditLinkView::dismiss()
{
    done(QDialog::Accepted);
}

void EditLinkView::done(int result)
{
    // The keystrokes before the scheme's colon were written through; they are no address.
    if (!m_urlReason->text().isEmpty() && alive())
        m_bookmark->setUrlString(m_openedUrl);
    m_urlReason->clear();
    m_urlReason->hide();
    QDialog::done(result);
}
