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

bool AddressOpener::open(const QUrl& url)
{
    const QString refusal = AddressPolicy::refusal(url, AddressPolicy::Use::Open);
    if (!refusal.isEmpty()) {
        emit problem(AddressPolicy::refusalMessage(url, refusal));
        return false;
    }
    if (!m_handOver(url)) {
        emit problem(QStringLiteral("Could not hand %1 to a web browser.").arg(AddressPolicy::displayText(url)));
        return false;
    }
    return true;
}
