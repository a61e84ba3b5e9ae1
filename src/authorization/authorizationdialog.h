#pragma once

#include "ventariglobal.h"

#include <kelvar/dialog.h>

#include <QtCore/QUrl>

class QWebView;

namespace Ventari {

// Shows the service's authorization page and captures the access token from its final redirect.
class VENTARI_EXPORT AuthorizationDialog : public Kelvar::Dialog
{
    Q_OBJECT

public:
    AuthorizationDialog();

    QString token() const { return m_token; }
    QWebView* webView() const { return m_webView; }

private slots:
    void finish(const QUrl& url);
    void openLink(const QUrl& url);

private:
    QString m_token;
    QWebView* m_webView;
};

} // namespace Ventari
