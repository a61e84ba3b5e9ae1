#pragma once

#include <ventaritypes.h>

#include <QtCore/QRect>
#include <QtGui/QFont>
#include <QtGui/QFontMetrics>
#include <QtCore/QVector>

class QTextDocument;

// What a point in a message item leads to.
struct MessageHit
{
    enum Kind { None, Author, Time, Like, Reply, Chart, Video, Anchor, More };

    Kind kind = None;
    QString anchor;       // Anchor: "symbol:AAPL", "user:alice" or a link
    int anchorIndex = -1; // Anchor: which of the body's anchors, in reading order

    bool operator==(const MessageHit& other) const
    {
        return kind == other.kind && anchor == other.anchor && anchorIndex == other.anchorIndex;
    }
    bool operator!=(const MessageHit& other) const { return !(*this == other); }
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
        QRect more;   // "Show more" or "Show less"; empty when the body is short
        int height = 0;
    };

    // A link, symbol or mention in the body: where its text starts, relative to the body.
    struct Anchor
    {
        QString href;
        QString text;
        QRect rect;
    };

    static constexpr int avatarSize = 40;
    static const QSize mediaSize;
    // A body of more lines than collapseAbove shows its first collapsedLines until expanded.
    static constexpr int collapsedLines = 6;
    static constexpr int collapseAbove = 8;

    explicit MessageLayout(const QFont& font);

    // Lays the item out; sets the body document's text width as it goes.
    Parts layout(const Ventari::Message& message, int width, QTextDocument* body, bool expanded) const;

    // The body's anchors in reading order; those below visibleHeight (cut off) are left out.
    static QVector<Anchor> anchors(const QTextDocument* body, int visibleHeight);
    // The body's text as it reads down to visibleHeight, with "…" where it is cut off.
    static QString visibleText(const QTextDocument* body, int visibleHeight);
    static QString moreText(bool expanded);
    QFont nameFont() const { return m_nameFont; }
    static QString likeText(int count, bool liked);
    static QString openText(const Ventari::Message& message);
    static bool hasChart(const Ventari::Message& message);
    // The chart to show large: the large picture, else the original.
    static QUrl chartUrl(const Ventari::Message& message);
    static bool hasVideo(const Ventari::Message& message);

private:
    QFont m_nameFont;
    QFontMetrics m_nameMetrics;
    QFontMetrics m_metaMetrics;
};
