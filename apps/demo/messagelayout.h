#pragma once

#include <ventaritypes.h>

#include <QtCore/QRect>
#include <QtGui/QFont>
#include <QtGui/QFontMetrics>

class QTextDocument;

// What a point in a message item leads to.
struct MessageHit
{
    enum Kind { None, Author, Time, Like, Reply, Chart, Video, Anchor };

    Kind kind = None;
    QString anchor; // Anchor: "symbol:AAPL", "user:alice" or a link
};

// Where the parts of one message item go at a given width: painting, sizing and clicks share it,
// so what is drawn is what is hit. Rectangles are relative to the item's top left corner.
class MessageLayout
{
public:
    struct Parts
    {
        QRect avatar;
        QRect author; // name and @username
        QRect time;
        QRect body;
        QRect media;  // chart or video thumbnail; empty when the message has none
        QRect like;
        QRect reply;
        QRect open;   // "Open chart" or "Watch video"; empty when there is nothing to open
        int height = 0;
    };

    static constexpr int avatarSize = 40;
    static const QSize mediaSize;

    explicit MessageLayout(const QFont& font);

    // Lays the item out; sets the body document's text width as it goes.
    Parts layout(const Ventari::Message& message, int width, QTextDocument* body) const;

    QFont nameFont() const { return m_nameFont; }
    static QString likeText(int count, bool liked);
    static QString openText(const Ventari::Message& message);
    static bool hasChart(const Ventari::Message& message);
    static bool hasVideo(const Ventari::Message& message);

private:
    QFont m_nameFont;
    QFontMetrics m_nameMetrics;
    QFontMetrics m_metaMetrics;
};
