#include "syslinklabel.h"

SysLinkLabel::SysLinkLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    setOpenExternalLinks(false);
}

void SysLinkLabel::setText(const QString& text)
{
    m_linkText = text;
    const QString escaped = text.toHtmlEscaped();
    QLabel::setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(escaped, escaped));
}
