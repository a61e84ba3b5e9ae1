#include "requester.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QLoggingCategory>
#include <QtCore/QPointer>
#include <QtCore/QTimer>

#include <atomic>

namespace Dravon {
namespace {

Q_LOGGING_CATEGORY(lcDravon, "dravon")

QString s_dataDirectory;
std::atomic<int> s_lastRequestId{0};

// Content lives directly in the data folder; a name that reaches elsewhere is refused.
bool isPlainFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

} // namespace

void setDataDirectory(const QString& path)
{
    s_dataDirectory = path;
}

QString dataDirectory()
{
    if (!s_dataDirectory.isEmpty())
        return s_dataDirectory;
    const QString fromEnvironment = qEnvironmentVariable("DRAVON_DATA_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QCoreApplication::applicationDirPath() + QLatin1String("/data");
}

Requester::Requester(const Request& request, QObject* parent)
    : QObject(parent)
    , m_request(request.clone())
{
}

Requester::~Requester() = default;

void Requester::bind(int responseType, const Messaging::IBindingSharedPtr& binding)
{
    m_bindings.insert(responseType, binding);
}

void Requester::start()
{
    m_requestId = ++s_lastRequestId;
    // Queued on the thread's event loop without this object as context, so that the receiver may
    // delete the requester from its handler while no Qt event dispatch is running on it.
    const QPointer<Requester> guard(this);
    const int requestId = m_requestId;
    QTimer::singleShot(0, [guard, requestId] {
        if (guard)
            guard->deliver(requestId);
    });
}

void Requester::deliver(int requestId)
{
    const std::unique_ptr<Response> response = serve();
    const Messaging::IBindingSharedPtr binding = m_bindings.value(response->type());
    if (!binding) {
        qCWarning(lcDravon, "No binding for a response of type %s to %s", QMetaType::typeName(response->type()),
                  m_receiverName.constData());
        return;
    }
    // The handler may delete this requester: only locals are used from here on.
    binding->deliver(requestId, *response);
}

std::unique_ptr<Response> Requester::serve() const
{
    if (const auto* content = dynamic_cast<const EncryptedContentRequest*>(m_request.get()))
        return serveContent(*content);
    return std::make_unique<ErrorResponse>(
        QStringLiteral("Unsupported request %1").arg(QString::fromLatin1(QMetaType::typeName(m_request->type()))));
}

// Content is kept unencrypted in the data folder, so only the default (empty) key can open it.
std::unique_ptr<Response> Requester::serveContent(const EncryptedContentRequest& request) const
{
    const QString name = QString::fromUtf8(request.fileName());
    if (!isPlainFileName(name))
        return std::make_unique<ErrorResponse>(QStringLiteral("Invalid content file name \"%1\"").arg(name));
    if (!request.key().isEmpty())
        return std::make_unique<ErrorResponse>(
            QStringLiteral("Unknown key \"%1\" for %2").arg(QString::fromUtf8(request.key()), name));

    QFile file(QDir(dataDirectory()).filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return std::make_unique<ErrorResponse>(
            QStringLiteral("Cannot open %1: %2").arg(file.fileName(), file.errorString()));
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::make_unique<ErrorResponse>(
            QStringLiteral("Cannot read %1: %2").arg(file.fileName(), file.errorString()));
    return std::make_unique<EncryptedContentResponse>(content);
}

} // namespace Dravon
