#pragma once

#include "hostglobal.h"

#include <QtCore/QString>

#include <functional>

class QWidget;

namespace Kelvar {

using OpenFileChooser =
    std::function<QString(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)>;

// The host's open-file dialog: the chosen file, or an empty text when the user cancels.
HOST_EXPORT QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);

// Puts another chooser in the dialog's place (a test answering for the user); an empty one
// brings the dialog back.
HOST_EXPORT void setOpenFileChooser(const OpenFileChooser& chooser);

} // namespace Kelvar
