#pragma once

#include <QtCore/QBuffer>
#include <QtCore/QByteArray>
#include <QtCore/QDataStream>
#include <QtCore/QString>
#include <QtCore/QtEndian>
#include <QtGui/QImage>

#include <chrono>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Pictures a hostile service may send, made here byte by byte: small files whose headers declare
// far more pixels than the file holds.
namespace HostileFiles {

inline QByteArray encoded(const QImage& image, const char* format)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return buffer.data();
}

inline QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

inline quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline QByteArray pngChunk(const char* type, const QByteArray& data)
{
    const QByteArray typed = QByteArray(type) + data;
    return bigEndian32(data.size()) + typed + bigEndian32(crc32(typed));
}

// A PNG with a correct header chunk for width × height, 8-bit RGB, and a few compressed bytes.
inline QByteArray png(quint32 width, quint32 height)
{
    const QByteArray header = bigEndian32(width) + bigEndian32(height) + QByteArray("\x08\x02\x00\x00\x00", 5);
    // qCompress puts the length in front of the zlib stream.
    const QByteArray pixels = qCompress(QByteArray(64, '\0')).mid(4);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", pixels)
        + pngChunk("IEND", QByteArray());
}

// A 24-bit BMP header for width × height followed by a handful of pixel bytes.
inline QByteArray bmp(quint32 width, quint32 height)
{
    QByteArray bytes("BM");
    QDataStream out(&bytes, QIODevice::Append);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 headers = 14 + 40;
    const quint32 pixels = 16;
    out << headers + pixels << quint32(0) << headers << quint32(40) << width << height << quint16(1) << quint16(24)
        << quint32(0) << quint32(0) << quint32(2835) << quint32(2835) << quint32(0) << quint32(0);
    return bytes + QByteArray(pixels, '\x7f');
}

// A real small JPEG whose frame header is then made to declare width × height.
inline QByteArray jpeg(quint16 width, quint16 height)
{
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QByteArray bytes = encoded(picture, "JPG");
    const int frame = bytes.indexOf(QByteArray("\xff\xc0", 2));
    if (frame < 0)
        return QByteArray();
    qToBigEndian(height, bytes.data() + frame + 5);
    qToBigEndian(width, bytes.data() + frame + 7);
    return bytes;
}

} // namespace HostileFiles

// A named pipe nobody writes to: opening it for reading waits for a writer. Should the code under
// test open it, the guard writes after a few seconds, so the fault fails the test rather than
// hanging it.
class PipeGuard
{
public:
    explicit PipeGuard(const QString& path)
        : m_path(path.toLocal8Bit())
    {
        m_made = ::mkfifo(m_path.constData(), 0600) == 0;
        m_thread = std::thread([this, released = m_released.get_future()] {
            if (released.wait_for(std::chrono::seconds(5)) == std::future_status::ready)
                return;
            const int pipe = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK);
            if (pipe >= 0) {
                (void)::write(pipe, "x", 1);
                ::close(pipe);
            }
        });
    }
    ~PipeGuard()
    {
        m_released.set_value();
        m_thread.join();
        ::unlink(m_path.constData());
    }
    PipeGuard(const PipeGuard&) = delete;
    PipeGuard& operator=(const PipeGuard&) = delete;

    bool isMade() const { return m_made; }

private:
    QByteArray m_path;
    bool m_made = false;
    std::promise<void> m_released;
    std::thread m_thread;
};
