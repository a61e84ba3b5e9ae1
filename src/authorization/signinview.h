#pragma once

#include "ventariglobal.h"

#include <QtCore/QUrl>
#include <QtCore/QVariant>
#include <QtWidgets/QWidget>

#include <functional>

namespace Ventari {

// The web page the sign-in dialog shows, whichever engine draws it: QtWebKit under Qt 5, Qt
// WebEngine under Qt 6. It reports every address its page goes to as the page goes there, hands
// on the links the user clicks instead of following them, and once navigation is disabled loads
// nothing more, so that the address that ends the sign-in never reaches the network.
class VENTARI_EXPORT SignInView : public QWidget
{
    Q_OBJECT

public:
    static SignInView* create(QWidget* parent);
    ~SignInView() override;

    virtual void load(const QUrl& url) = 0;
    // A page of the plugin's own; it may load the plugin's resources.
    virtual void setHtml(const QString& html) = 0;
    virtual QUrl url() const = 0;
    virtual void stop() = 0;
    // Runs a script in the page; result is called with its value, at once or later.
    virtual void runJavaScript(const QString& script, const std::function<void(const QVariant&)>& result = {}) = 0;

    void setNavigationEnabled(bool enabled) { m_navigationEnabled = enabled; }
    bool isNavigationEnabled() const { return m_navigationEnabled; }

signals:
    void urlChanged(const QUrl& url);
    void linkClicked(const QUrl& url);
    void loadStarted();
    void loadFinished(bool ok);

protected:
    explicit SignInView(QWidget* parent);

private:
    bool m_navigationEnabled = true;
};

} // namespace Ventari
