#include "signinview.h"

#include <QtCore/QPointer>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWebEngineCore/QWebEngineSettings>
#include <QtWebEngineWidgets/QWebEngineView>
#include <QtWidgets/QLayout>

namespace Ventari {
namespace {

// Asks its view about every navigation of its main frame before anything loads: redirects and
// typed addresses are reported, and go on only while navigation is enabled; clicked links are
// handed on and never followed here.
class SignInPage : public QWebEnginePage
{
public:
    SignInPage(SignInView* view, QObject* parent)
        : QWebEnginePage(parent)
        , m_view(view)
    {
    }

    // The plugin's own page is about to load: it has no address of its own, as under QtWebKit.
    void expectOwnPage() { m_ownPageExpected = true; }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (!isMainFrame)
            return m_view->isNavigationEnabled();
        if (m_ownPageExpected && url.scheme() == QLatin1String("data")) {
            m_ownPageExpected = false;
            emit m_view->urlChanged(QUrl());
            return true;
        }
        if (type == NavigationTypeLinkClicked) {
            // After this navigation is refused: a load the receiver starts at once would go with it.
            QMetaObject::invokeMethod(m_view, [view = m_view, url] { emit view->linkClicked(url); }, Qt::QueuedConnection);
            return false;
        }
        emit m_view->urlChanged(url);
        return m_view->isNavigationEnabled();
    }

private:
    QPointer<SignInView> m_view;
    bool m_ownPageExpected = false;
};

// Qt WebEngine's view, with a page that reports before it loads.
class WebEngineSignInView : public SignInView
{
public:
    explicit WebEngineSignInView(QWidget* parent)
        : SignInView(parent)
        , m_view(new QWebEngineView(this))
    {
        layout()->addWidget(m_view);
        m_view->setContextMenuPolicy(Qt::NoContextMenu);
        m_page = new SignInPage(this, m_view);
        m_view->setPage(m_page);
        QWebEngineSettings* settings = m_view->settings();
        settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
        settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
        // Another program's scheme is never handed to the desktop from here.
        settings->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
        connect(m_view, &QWebEngineView::loadStarted, this, &SignInView::loadStarted);
        connect(m_view, &QWebEngineView::loadFinished, this, &SignInView::loadFinished);
    }

    void load(const QUrl& url) override
    {
        if (isNavigationEnabled())
            m_view->load(url);
    }
    // Its base is the plugin's resources, so the page may show the plugin's pictures.
    void setHtml(const QString& html) override
    {
        m_page->expectOwnPage();
        m_view->setHtml(html, QUrl(QStringLiteral("qrc:///ventari/")));
    }
    // The plugin's own page is shown as data, the one way the engine takes a page from the plugin.
    QUrl url() const override
    {
        const QUrl shown = m_view->url();
        return shown.scheme() == QLatin1String("data") ? QUrl() : shown;
    }
    void stop() override { m_view->stop(); }
    void runJavaScript(const QString& script, const std::function<void(const QVariant&)>& result) override
    {
        m_view->page()->runJavaScript(script, [result](const QVariant& value) {
            if (result)
                result(value);
        });
    }

private:
    QWebEngineView* m_view;
    SignInPage* m_page;
};

} // namespace

SignInView* SignInView::create(QWidget* parent)
{
    return new WebEngineSignInView(parent);
}

} // namespace Ventari
