#include "dialogplayer.h"

#include "authorization/authorizationdialog.h"
#include "authorization/signinview.h"

#include <QtTest/QTest>
#include <QtWidgets/QApplication>

#include <memory>

QVariant evaluateInPage(Ventari::SignInView* view, const QString& script)
{
    auto answer = std::make_shared<std::pair<bool, QVariant>>();
    view->runJavaScript(script, [answer](const QVariant& result) { *answer = {true, result}; });
    if (!answer->first)
        (void)QTest::qWaitFor([&] { return answer->first; }, 15000);
    return answer->second;
}

DialogPlayer::DialogPlayer(const QString& script)
{
    m_clock.start();
    QObject::connect(&m_timer, &QTimer::timeout, &m_alive, [this, script] { onTick(script); });
    m_timer.start(20);
}

void DialogPlayer::onTick(const QString& script)
{
    auto* dialog = qobject_cast<Ventari::AuthorizationDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog == m_last || dialog == m_asked)
        return;
    if (m_clock.hasExpired(15000))
        return dialog->reject();
    m_asked = dialog;
    const QPointer<QObject> alive(&m_alive);
    const QPointer<Ventari::AuthorizationDialog> asked(dialog);
    const QString formShown = QStringLiteral("document.getElementById('authorize') != null && typeof approve == 'function'");
    dialog->webView()->runJavaScript(formShown, [this, alive, asked, script](const QVariant& shown) {
        if (!alive)
            return;
        m_asked = nullptr;
        if (!asked || !shown.toBool() || asked == m_last)
            return;
        m_last = asked;
        ++handled;
        if (script.isEmpty())
            asked->close();
        else
            asked->webView()->runJavaScript(script);
    });
}
