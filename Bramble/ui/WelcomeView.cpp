#include "ui/WelcomeView.h"

#include "ui/Symbols.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace {
constexpr int symbolSize = 60;

// The platform's secondary and tertiary label colours: the text colour at reduced strength.
QColor secondaryColor(const QPalette &palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.55f);
    return color;
}

QColor tertiaryColor(const QPalette &palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.3f);
    return color;
}

void setTextColor(QLabel *label, const QColor &color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}
} // namespace

WelcomeView::WelcomeView(QWidget *parent)
    : QWidget(parent)
    , m_symbol(new QLabel(this))
    , m_title(new QLabel(QStringLiteral("欢迎使用 Bramble"), this))
    , m_message(new QLabel(QStringLiteral("请在侧边栏选择或创建一个分组"), this))
{
    setObjectName(QStringLiteral("welcomeView"));
    m_symbol->setObjectName(QStringLiteral("welcomeSymbol"));
    m_title->setObjectName(QStringLiteral("welcomeTitle"));
    m_message->setObjectName(QStringLiteral("welcomeMessage"));

    QFont titleFont = m_title->font();
    titleFont.setPixelSize(28);
    m_title->setFont(titleFont);

    for (QLabel *label : { m_symbol, m_title, m_message })
        label->setAlignment(Qt::AlignCenter);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(15);
    layout->addStretch(1);
    layout->addWidget(m_symbol, 0, Qt::AlignHCenter);
    layout->addWidget(m_title, 0, Qt::AlignHCenter);
    layout->addWidget(m_message, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    applyColors();
}

void WelcomeView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        applyColors();
}

void WelcomeView::applyColors()
{
    const QPalette palette = this->palette();
    const qreal dpr = devicePixelRatioF();
    m_symbol->setPixmap(Symbols::pixmap(QStringLiteral("macwindow.on.rectangle"),
        QSize(symbolSize, symbolSize), secondaryColor(palette), dpr));
    setTextColor(m_title, secondaryColor(palette));
    setTextColor(m_message, tertiaryColor(palette));
}
