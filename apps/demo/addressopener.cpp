#include "addressopener.h"

#include "addresspolicy.h"

#include <QtGui/QDesktopServices>

AddressOpener::AddressOpener(QObject* parent)
    : QObject(parent)
    , m_handOver([](const QUrl& url) { return QDesktopServices::openUrl(url); })
{
}

AddressOpener::~AddressOpener() = default;

void AddressOpener::setHandOver(const HandOver& handOver)
{
    m_handOver = handOver;
}

QString AddressOpener::open(const QUrl& url)
{
    const QString refusal = AddressPolicy::refusal(url, AddressPolicy::Use::Open);
    QString text;
    if (!refusal.isEmpty())
        text = AddressPolicy::refusalMessage(url, refusal);
    else if (!m_handOver(url))
        text = QStringLiteral("Could not hand %1 to a web browser.").arg(AddressPolicy::displayText(url));
    if (!text.isEmpty())
        emit problem(text);
    return text;
}
