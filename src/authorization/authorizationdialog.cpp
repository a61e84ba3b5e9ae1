#include "authorizationdialog.h"

#include "common/reports.h"
#include "remotesettings.h"

#include <QtCore/QFile>
#include <QtCore/QRegExp>
#include <QtGui/QDesktopServices>
#include <QtWebKitWidgets/QWebPage>
#include <QtWebKitWidgets/QWebView>
#include <QtWebKit/QWebSettings>
#include <QtWidgets/QVBoxLayout>

namespace Ventari {

AuthorizationDialog::AuthorizationDialog()
    : Kelvar::Dialog(nullptr, QStringLiteral("AuthorizationDialog"), Qt::Tool, 1, 13, true)
    , m_webView(new QWebView(this))
{
    setStatisticsCounterName(QStringLiteral("AuthorizationDialog"));
    layout()->addWidget(m_webView);
    setWindowTitle(tr("Ventari Authorization"));
    setMinimumSize(479, 500);

    const QString clientId = remoteSetting("OrvaneId").toString();
    QString loaderPage;
    QFile loader(QStringLiteral(":/ventari/loader.html"));
    if (loader.open(QIODevice::ReadOnly))
        loaderPage = QString::fromUtf8(loader.readAll());
    QString address = remoteSetting("authorizationUrl").toString();
    // Without a client identity the "%1" stays, so the failure is visible in the address.
    if (!clientId.isEmpty() && address.contains(QLatin1String("%1")))
        address = address.arg(clientId);

    QWebSettings* settings = m_webView->settings();
    settings->setAttribute(QWebSettings::JavascriptEnabled, true);
    settings->setAttribute(QWebSettings::JavascriptCanOpenWindows, true);
    if (!loaderPage.isEmpty())
        m_webView->setHtml(loaderPage.arg(address), QUrl());
    else
        m_webView->load(QUrl(address));

    m_webView->setContextMenuPolicy(Qt::NoContextMenu);
    m_webView->page()->setLinkDelegationPolicy(QWebPage::DelegateExternalLinks);
    VR_VERIFY(connect(m_webView, SIGNAL(urlChanged(const QUrl&)), this, SLOT(finish(const QUrl&))));
    VR_VERIFY(connect(m_webView, SIGNAL(linkClicked(const QUrl&)), this, SLOT(openLink(const QUrl&))));
    resize(700, 600);
}

void AuthorizationDialog::finish(const QUrl& url)
{
    static QRegExp tokenPattern(QStringLiteral("(#access_token=)(.*)"), Qt::CaseSensitive, QRegExp::RegExp);
    static QRegExp errorPattern(QStringLiteral("(#error=)(.*)"), Qt::CaseSensitive, QRegExp::RegExp);

    const QString text = url.toString();
    if (tokenPattern.indexIn(text) != -1) {
        m_token = tokenPattern.cap(2);
    } else if (errorPattern.indexIn(text) != -1) {
        reject();
        return;
    }
    if (!m_token.isEmpty())
        accept();
}

// The service's API pages and the host's own pages stay in the dialog; anything else is the
// user's browser's business.
void AuthorizationDialog::openLink(const QUrl& url)
{
    const QString text = url.toString();
    if (text.contains(QLatin1String("api.")) || text.contains(QLatin1String("orvane")))
        m_webView->load(url);
    else
        QDesktopServices::openUrl(url);
}

} // namespace Ventari
