#pragma once

#include <kelvar/syslinklabel.h>

#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QToolButton>

// The share dialog's widgets, found by their object names: ShareForm form{&dialog}.
struct ShareForm
{
    template <typename T>
    T* find(const char* name) const { return dialog->findChild<T*>(QLatin1String(name)); }

    QWidget* dialog;
    QWidget* nameWidget = find<QWidget>("nameWidget");
    QLabel* attName = find<QLabel>("attName");
    QToolButton* removeAttachmentButton = find<QToolButton>("removeAttachmentButton");
    SysLinkLabel* attach = find<SysLinkLabel>("attach");
    QLabel* count = find<QLabel>("count");
    QLabel* image = find<QLabel>("image");
    QPlainTextEdit* text = find<QPlainTextEdit>("text");
    QLabel* errorLabel = find<QLabel>("errorLabel");
    QPushButton* sendButton = find<QPushButton>("sendButton");
    QPushButton* closeButton = find<QPushButton>("closeButton");

    bool isComplete() const
    {
        return nameWidget && attName && removeAttachmentButton && attach && count && image && text && errorLabel && sendButton
            && closeButton;
    }
    // The attachment's name, or "none" when the dialog has none.
    QString attachment() const { return nameWidget->isVisibleTo(dialog) ? attName->toolTip() : QStringLiteral("none"); }
    bool isRed(QWidget* widget) const { return widget->palette().color(QPalette::WindowText) == QColor(255, 0, 0); }
    bool inputsEnabled() const { return attach->isEnabled() && text->isEnabled() && removeAttachmentButton->isEnabled(); }
    bool inputsDisabled() const
    {
        return !attach->isEnabled() && !text->isEnabled() && !removeAttachmentButton->isEnabled() && !sendButton->isEnabled();
    }
};
