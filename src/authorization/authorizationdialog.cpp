#include "authorizationdialog.h"

#include "common/reports.h"
#include "remotesettings.h"
#include "signinview.h"
#include "ventarilogging.h"

#include <QtCore/QFile>
#include <QRegExp> // QtCore under Qt 5, Core5Compat under Qt 6
#include <QtGui/QDesktopServices>
#include <QtWidgets/QLabel>
#include <QtWidgets/QVBoxLayout>

namespace Ventari {

AuthorizationDialog::AuthorizationDialog()
    : Kelvar::Dialog(nullptr, QStringLiteral("AuthorizationDialog"), Qt::Tool, 1, 13, true)
    , m_webView(SignInView::create(this))
    , m_addressLine(new QLabel(this))
{
    setStatisticsCounterName(QStringLiteral("AuthorizationDialog"));
    m_addressLine->setObjectName(QStringLiteral("addressLine"));
    m_addressLine->setTextFormat(Qt::PlainText);
    m_addressLine->setContentsMargins(6, 3, 6, 3);
    // A long address must not widen the dialog.
    m_addressLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_addressLine->setText(addressText(QUrl()));
    layout()->addWidget(m_addressLine);
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

    // Scripts run and may open windows; links are handed to openLink; no context menu (the view's own).
    VR_VERIFY(connect(m_webView, SIGNAL(urlChanged(const QUrl&)), this, SLOT(finish(const QUrl&))));
    VR_VERIFY(connect(m_webView, SIGNAL(linkClicked(const QUrl&)), this, SLOT(openLink(const QUrl&))));
    connect(m_webView, &SignInView::urlChanged, this, [this](const QUrl& url) { m_addressLine->setText(addressText(url)); });
    connect(m_webView, &SignInView::loadFinished, this, [this] { m_addressLine->setText(addressText(m_webView->url())); });
    if (!loaderPage.isEmpty())
        m_webView->setHtml(loaderPage.arg(address));
    else
        m_webView->load(QUrl(address));
    resize(700, 600);
}

// The view goes with the widget base, after this dialog's own part; a page still loading then
// reports its end, which must not reach a dialog that is no longer one.
AuthorizationDialog::~AuthorizationDialog()
{
    m_webView->disconnect(this);
}

QString AuthorizationDialog::addressText(const QUrl& url)
{
    const QString scheme = url.scheme();
    if (url.isEmpty() || scheme == QLatin1String("about") || scheme == QLatin1String("qrc"))
        return tr("Opening the sign-in page…");
    // The encoded host: an international name shows as the xn-- form that no look-alike shares.
    QString host = url.host(QUrl::FullyEncoded);
    if (url.port() != -1)
        host += QLatin1Char(':') + QString::number(url.port());
    if (scheme == QLatin1String("https") && !host.isEmpty())
        return QStringLiteral("\U0001F512 ") + host;
    if (host.isEmpty()) {
        const int longest = 80;
        QString address = url.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment
                                       | QUrl::FullyEncoded);
        if (address.size() > longest)
            address = address.left(longest - 1) + QChar(0x2026);
        return tr("Not secure: %1").arg(address);
    }
    return tr("Not secure: %1").arg(host);
}

void AuthorizationDialog::finish(const QUrl& url)
{
    static QRegExp tokenPattern(QStringLiteral("(#access_token=)(.*)"), Qt::CaseSensitive, QRegExp::RegExp);
    static QRegExp errorPattern(QStringLiteral("(#error=)(.*)"), Qt::CaseSensitive, QRegExp::RegExp);

    const QString text = url.toString();
    if (tokenPattern.indexIn(text) != -1) {
        m_token = tokenPattern.cap(2);
    } else if (errorPattern.indexIn(text) != -1) {
        m_webView->setNavigationEnabled(false);
        reject();
        return;
    }
    // The address that ends the sign-in is not loaded.
    if (!m_token.isEmpty()) {
        m_webView->setNavigationEnabled(false);
        accept();
    }
}

// The service's API pages and the host's own pages stay in the dialog; anything else is the
// user's browser's business. Only web addresses without a user name or password go anywhere: a
// page could link a local file, another program's scheme, or a look-alike host.
void AuthorizationDialog::openLink(const QUrl& url)
{
    const QString scheme = url.scheme();
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || !url.userInfo().isEmpty()) {
        VR_LOG(Log::authorization(), 2) << "Refused to open a link: " << url.toString(QUrl::RemoveUserInfo);
        return;
    }
    const QString text = url.toString();
    if (text.contains(QLatin1String("api.")) || text.contains(QLatin1String("orvane")))
        m_webView->load(url);
    else
        QDesktopServices::openUrl(url);
}

} // namespace Ventari
