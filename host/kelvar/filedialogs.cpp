#include "filedialogs.h"

#include <QtWidgets/QFileDialog>

namespace Kelvar {
namespace {

OpenFileChooser& chooser()
{
    static OpenFileChooser current;
    return current;
}

} // namespace

QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    if (chooser())
        return chooser()(parent, caption, dir, filter);
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

void setOpenFileChooser(const OpenFileChooser& replacement)
{
    chooser() = replacement;
}

} // namespace Kelvar
