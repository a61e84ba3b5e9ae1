#include "dialogplayer.h"

#include "authorization/authorizationdialog.h"

#include <QtWebKitWidgets/QWebFrame>
#include <QtWebKitWidgets/QWebPage>
#include <QtWebKitWidgets/QWebView>
#include <QtWidgets/QApplication>

DialogPlayer::DialogPlayer(const QString& script)
{
    m_clock.start();
    QObject::connect(&m_timer, &QTimer::timeout, [this, script] {
        auto* dialog = qobject_cast<Ventari::AuthorizationDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog == m_last)
            return;
        if (m_clock.hasExpired(15000))
            return dialog->reject();
        QWebFrame* frame = dialog->webView()->page()->mainFrame();
        const QString formShown = QStringLiteral("document.getElementById('authorize') != null && "
                                                 "typeof approve == 'function'");
        if (!frame->evaluateJavaScript(formShown).toBool())
            return;
        m_last = dialog;
        ++handled;
        if (script.isEmpty())
            dialog->close();
        else
            frame->evaluateJavaScript(script);
    });
    m_timer.start(20);
}
