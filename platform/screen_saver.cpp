#include "platform/screen_saver.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariant>

#include <optional>

namespace kp {
namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kInterface = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kConnection = QStringLiteral("kestrel-screen-saver");
// A service that does not answer in this time counts as refusing.
constexpr int kCallTimeoutMs = 5000;

std::optional<uint32_t> g_cookie;

// The session bus as the desktop announces it: DBUS_SESSION_BUS_ADDRESS, else the per-user
// bus socket in XDG_RUNTIME_DIR. Never a bus started on demand.
QString SessionBusAddress() {
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty()) return address;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty()) return {};
    const QString socket = runtime + QStringLiteral("/bus");
    return QFileInfo(socket).exists() ? QStringLiteral("unix:path=") + socket : QString();
}

void Disconnect() { QDBusConnection::disconnectFromBus(kConnection); }

bool NoSuchService(const QDBusMessage& reply) {
    const QDBusError::ErrorType type = QDBusError(reply).type();
    return type == QDBusError::ServiceUnknown || type == QDBusError::UnknownObject ||
           type == QDBusError::UnknownInterface || type == QDBusError::UnknownMethod;
}

QDBusMessage Call(const QString& method, const QList<QVariant>& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(arguments);
    return QDBusConnection(kConnection).call(call, QDBus::Block, kCallTimeoutMs);
}

}  // namespace

SaverResult InhibitScreenSaver(const std::string& application, const std::string& reason) {
    if (g_cookie) return SaverResult::Done;
    if (QCoreApplication::instance() == nullptr) return SaverResult::NoService;
    const QString address = SessionBusAddress();
    if (address.isEmpty()) return SaverResult::NoService;
    if (!QDBusConnection::connectToBus(address, kConnection).isConnected()) {
        Disconnect();
        return SaverResult::NoService;
    }
    const QDBusMessage reply = Call(QStringLiteral("Inhibit"), {QString::fromStdString(application),
                                                                QString::fromStdString(reason)});
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
        reply.arguments().first().canConvert<uint>()) {
        g_cookie = reply.arguments().first().toUInt();
        return SaverResult::Done;
    }
    Disconnect();
    return reply.type() == QDBusMessage::ErrorMessage && NoSuchService(reply) ? SaverResult::NoService
                                                                              : SaverResult::Refused;
}

SaverResult UnInhibitScreenSaver() {
    if (!g_cookie) return SaverResult::NoService;
    const uint cookie = *g_cookie;
    g_cookie.reset();
    const QDBusMessage reply = Call(QStringLiteral("UnInhibit"), {cookie});
    Disconnect();
    return reply.type() == QDBusMessage::ReplyMessage ? SaverResult::Done : SaverResult::Refused;
}

bool ScreenSaverInhibited() { return g_cookie.has_value(); }

}  // namespace kp
