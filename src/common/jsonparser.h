#pragma once

#include "ventariglobal.h"

#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <QtCore/QStringList>
#include <QtCore/QVariant>

#include <stdexcept>
#include <string>

QT_BEGIN_NAMESPACE
class QIODevice;
QT_END_NAMESPACE

namespace Common {

// A syntax error of JsonParser, with the reader's position: 1-based line, column in bytes.
class VENTARI_EXPORT JsonParserException : public std::runtime_error
{
public:
    JsonParserException(const std::string& message, int line, int column);

    int line() const { return m_line; }
    int column() const { return m_column; }

private:
    int m_line;
    int m_column;
};

// Reads one lenient JSON value into QVariant maps, lists and scalars.
class VENTARI_EXPORT JsonParser
{
public:
    // Reads one value from the device's current position and leaves the device just after it.
    QVariant parse(QIODevice* device) const;
    QVariant parse(const QByteArray& data) const;
    // Logs a syntax error and returns an invalid QVariant instead of throwing.
    QVariant parseNoThrow(const QByteArray& data) const;
};

VENTARI_EXPORT QList<QByteArray> stringListToByteArrayList(const QStringList& list);
VENTARI_EXPORT QStringList byteArrayListToStringList(const QList<QByteArray>& list);

} // namespace Common
