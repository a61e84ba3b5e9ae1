#pragma once

#include "ventariglobal.h"

#include <kelvar/dialog.h>

#include <QtCore/QUrl>

class QLabel;

namespace Ventari {

class SignInView;

// Shows the service's authorization page and captures the access token from its final redirect.
class VENTARI_EXPORT AuthorizationDialog : public Kelvar::Dialog
{
    Q_OBJECT

public:
    AuthorizationDialog();
    ~AuthorizationDialog() override;

    QString token() const { return m_token; }
    SignInView* webView() const { return m_webView; }

    // The line above the page: the host the page comes from and whether the connection is
    // encrypted, so the user sees where he types his password.
    static QString addressText(const QUrl& url);

private slots:
    void finish(const QUrl& url);
    void openLink(const QUrl& url);

private:
    QString m_token;
    SignInView* m_webView;
    // Not in the original dialog: the address line, kept up to date on every navigation.
    QLabel* m_addressLine;
};

} // namespace Ventari
