#include "qt/desktop_notices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QVariantMap>

namespace doredaviro::qt {

namespace {

// Only a bus the session names: asking Qt for one otherwise would have it start a bus
// of its own, with a helper process, for nobody to listen to.
bool HaveSessionBus() {
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
           QDBusConnection::sessionBus().isConnected();
}

}  // namespace

void DesktopNotices::Progress(int ended, int started) {
    if (!HaveSessionBus()) return;
    QDBusMessage update = QDBusMessage::createSignal(
        QStringLiteral("/org/doredaviro/ZivevKorvu/LauncherEntry"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    const bool running = started > 0;
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"),
                      running ? static_cast<double>(ended) / started : 0.0);
    properties.insert(QStringLiteral("progress-visible"), running);
    properties.insert(QStringLiteral("count"), static_cast<qint64>(started - ended));
    properties.insert(QStringLiteral("count-visible"), running && started > ended);
    update << QStringLiteral("application://%1.desktop").arg(QGuiApplication::desktopFileName())
           << properties;
    QDBusConnection::sessionBus().send(update);
}

void DesktopNotices::Notify(const QString& title, const QString& text, bool failure) {
    if (!HaveSessionBus()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(failure ? 2 : 1));
    call << QStringLiteral("Zivev+Korvu") << 0u << QGuiApplication::desktopFileName() << title
         << text << QStringList() << hints << -1;
    // Not waited for: with no notification service the error reply is simply dropped; one that
    // the bus starts on demand is started.
    call.setAutoStartService(true);
    QDBusConnection::sessionBus().send(call);
}

}  // namespace doredaviro::qt
