#pragma once

#include "hostglobal.h"

#include <QtWidgets/QLabel>

// A label that shows its text as a link and emits linkActivated(const QString&) with that text
// when the user follows it.
class HOST_EXPORT SysLinkLabel : public QLabel
{
    Q_OBJECT

public:
    explicit SysLinkLabel(QWidget* parent = nullptr);

    QString linkText() const { return m_linkText; }

public slots:
    void setText(const QString& text);

private:
    QString m_linkText;
};
