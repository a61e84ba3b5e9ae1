#include "hostreports.h"

#include <corvane/corvane.h>

#include <QtCore/QFileInfo>

namespace Kelvar {

void reportHostFailure(const char* file, int line, const char* function, const QString& expression)
{
    const std::wstring fileName = QFileInfo(QString::fromLocal8Bit(file)).completeBaseName().toStdWString();
    const std::wstring functionName = QString::fromLatin1(function).toStdWString();
    const std::wstring text = expression.toStdWString();
    OrvaneServiceApi()->reportAssertion(fileName.c_str(), line, functionName.c_str(), nullptr, text.c_str());
}

} // namespace Kelvar
