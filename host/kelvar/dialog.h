#pragma once

#include "hostglobal.h"

#include <QtWidgets/QDialog>

class QVBoxLayout;

namespace Kelvar {

// A host window that counts how often it is shown and remembers its geometry.
class HOST_EXPORT FloatWindow
{
public:
    virtual ~FloatWindow() = default;
    virtual QWidget* qWidget() = 0;

    void setStatisticsCounterName(const QString& name) { m_counterName = name; }
    // storage 0 keeps the geometry in the host's settings store.
    void setGeometryRegistryPath(const QString& name, int storage);
    void setResizeEnabled(bool horizontal, bool vertical);

protected:
    void windowShown();
    void windowHidden();

private:
    QString m_counterName;
    QString m_geometryName;
    bool m_resizeHorizontal = true;
    bool m_resizeVertical = true;
};

// A float window with a title frame; its content goes into layout().
class HOST_EXPORT TitledWindow : public FloatWindow
{
public:
    virtual QVBoxLayout* layout() const = 0;
};

// A framed, modal-capable host dialog. exec(), accept() and reject() are QDialog's.
class HOST_EXPORT Dialog : public QDialog, public TitledWindow
{
    Q_OBJECT

public:
    // frame (1: the plain host frame) and titleHeight (13) shape the host's own title frame; the
    // stand-in leaves framing to the window system and uses only closable (the close button).
    Dialog(QWidget* parent, const QString& name, Qt::WindowFlags flags, int frame, int titleHeight, bool closable);

    QWidget* qWidget() override { return this; }
    QVBoxLayout* layout() const override { return m_layout; }

protected:
    bool event(QEvent* event) override;

private:
    QVBoxLayout* m_layout;
};

} // namespace Kelvar
