#include "dialog.h"

#include "settings/settingsstore.h"

#include <corvane/corvane.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QEvent>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QVBoxLayout>

namespace Kelvar {

namespace {

// A window without a parent and without a kept place opens over the window the user works in,
// not wherever the window system puts new windows.
void centerOverActiveWindow(QWidget* window)
{
    QWidget* active = QApplication::activeWindow();
    QRect area;
    if (active && active != window)
        area = active->frameGeometry();
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    else
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

} // namespace

void FloatWindow::setGeometryRegistryPath(const QString& name, int)
{
    m_geometryName = name;
}

void FloatWindow::setResizeEnabled(bool horizontal, bool vertical)
{
    m_resizeHorizontal = horizontal;
    m_resizeVertical = vertical;
}

void FloatWindow::windowShown()
{
    QWidget* widget = qWidget();
    if (!m_counterName.isEmpty()) {
        QString counter = m_counterName;
        counter.replace(QLatin1Char(' '), QLatin1Char('_')).replace(QLatin1Char('.'), QLatin1Char('_'));
        const std::wstring name = (QStringLiteral("Window.") + counter + QStringLiteral(".count")).toStdWString();
        Corvane::IServiceApi* api = OrvaneServiceApi();
        api->addToCounter(api->openCounter(name.c_str()), 1);
    }
    bool restored = false;
    if (!m_geometryName.isEmpty()) {
        if (SettingsStore* store = SettingsStore::of(QCoreApplication::instance())) {
            const QByteArray geometry = store->value("Geometry/" + m_geometryName.toUtf8()).toByteArray();
            restored = !geometry.isEmpty() && widget->restoreGeometry(geometry);
        }
    }
    if (!restored && !widget->parentWidget())
        centerOverActiveWindow(widget);
    if (!m_resizeHorizontal)
        widget->setFixedWidth(widget->width());
    if (!m_resizeVertical)
        widget->setFixedHeight(widget->height());
}

void FloatWindow::windowHidden()
{
    if (m_geometryName.isEmpty())
        return;
    if (SettingsStore* store = SettingsStore::of(QCoreApplication::instance()))
        store->setValue("Geometry/" + m_geometryName.toUtf8(), qWidget()->saveGeometry());
}

Dialog::Dialog(QWidget* parent, const QString& name, Qt::WindowFlags flags, int, int, bool closable)
    : QDialog(parent, flags | (closable ? Qt::WindowCloseButtonHint : Qt::WindowFlags()))
    , m_layout(new QVBoxLayout(this))
{
    setObjectName(name);
    m_layout->setContentsMargins(0, 0, 0, 0);
}

bool Dialog::event(QEvent* event)
{
    // Handled here rather than in showEvent so that subclasses may override showEvent freely.
    if (event->type() == QEvent::Show)
        windowShown();
    else if (event->type() == QEvent::Hide)
        windowHidden();
    return QDialog::event(event);
}

} // namespace Kelvar
