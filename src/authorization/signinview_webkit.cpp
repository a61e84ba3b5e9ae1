#include "signinview.h"

#include <QtWebKit/QWebSettings>
#include <QtWebKitWidgets/QWebFrame>
#include <QtWebKitWidgets/QWebPage>
#include <QtWebKitWidgets/QWebView>
#include <QtWidgets/QLayout>

namespace Ventari {
namespace {

// QtWebKit's view: links to pages off the local machine are delegated, not followed.
class WebKitSignInView : public SignInView
{
public:
    explicit WebKitSignInView(QWidget* parent)
        : SignInView(parent)
        , m_view(new QWebView(this))
    {
        layout()->addWidget(m_view);
        m_view->setContextMenuPolicy(Qt::NoContextMenu);
        QWebSettings* settings = m_view->settings();
        settings->setAttribute(QWebSettings::JavascriptEnabled, true);
        settings->setAttribute(QWebSettings::JavascriptCanOpenWindows, true);
        m_view->page()->setLinkDelegationPolicy(QWebPage::DelegateExternalLinks);
        connect(m_view, &QWebView::urlChanged, this, [this](const QUrl& url) {
            emit urlChanged(url);
            if (!isNavigationEnabled())
                m_view->stop();
        });
        connect(m_view, &QWebView::linkClicked, this, &SignInView::linkClicked);
        connect(m_view, &QWebView::loadStarted, this, &SignInView::loadStarted);
        connect(m_view, &QWebView::loadFinished, this, &SignInView::loadFinished);
    }

    void load(const QUrl& url) override
    {
        if (isNavigationEnabled())
            m_view->load(url);
    }
    void setHtml(const QString& html) override { m_view->setHtml(html, QUrl()); }
    QUrl url() const override { return m_view->url(); }
    void stop() override { m_view->stop(); }
    void runJavaScript(const QString& script, const std::function<void(const QVariant&)>& result) override
    {
        const QVariant value = m_view->page()->mainFrame()->evaluateJavaScript(script);
        if (result)
            result(value);
    }

private:
    QWebView* m_view;
};

} // namespace

SignInView* SignInView::create(QWidget* parent)
{
    return new WebKitSignInView(parent);
}

} // namespace Ventari
