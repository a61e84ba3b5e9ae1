#pragma once

#include "ventaritypes.h"

#include <QtCore/QStringList>

#include <algorithm>

namespace ModelTest {

using Ventari::Message;
using Ventari::Messages;

// Pages written as text, in page order: "10 20+7+9 30*" is message 10, message 20 liked by users 7
// and 9, and message 30 whose body was edited.
inline Messages messagesOf(const QString& notation)
{
    Messages messages;
    for (const QString& token : notation.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        QString rest = token;
        Message message;
        message.body = QStringLiteral("first words");
        if (rest.endsWith(QLatin1Char('*'))) {
            message.body = QStringLiteral("edited words");
            rest.chop(1);
        }
        const QStringList parts = rest.split(QLatin1Char('+'));
        message.id = parts.first().toInt();
        for (int i = 1; i < parts.size(); ++i)
            message.likes.insert(parts.at(i).toInt());
        messages.append(message);
    }
    return messages;
}

// A list in the same notation, likers in ascending order.
inline QString notationOf(const Messages& messages)
{
    QStringList tokens;
    for (const Message& message : messages) {
        QString token = QString::number(message.id);
        QList<int> likes = message.likes.values();
        std::sort(likes.begin(), likes.end());
        for (int user : likes)
            token += QLatin1Char('+') + QString::number(user);
        if (message.body == QLatin1String("edited words"))
            token += QLatin1Char('*');
        tokens.append(token);
    }
    return tokens.join(QLatin1Char(' '));
}

} // namespace ModelTest
