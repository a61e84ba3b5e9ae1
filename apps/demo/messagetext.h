#pragma once

#include <QtCore/QString>
#include <QtCore/QUrl>

// A message body as rich text: $SYMBOLS, @mentions and links become anchors the desk can follow.
class MessageText
{
public:
    struct Colours
    {
        QString symbol;
        QString mention;
        QString link;
    };

    // Anchors: "symbol:AAPL", "user:alice", and links as they are.
    static QString toHtml(const QString& body, const Colours& colours);

    // What an anchor stands for.
    enum class Target { None, Symbol, User, Link };
    static Target targetOf(const QString& anchor, QString* value);

    // A long address shortened for reading: host and the start of the path.
    static QString shortLink(const QString& link);
};
