#include "qt/desktop_notices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>

#include "core/run_record.h"
#include "core/texts.h"

namespace doredaviro::qt {

namespace {

// Only a bus the session names: asking Qt for one otherwise would have it start a bus
// of its own, with a helper process, for nobody to listen to.
bool HaveSessionBus() {
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
           QDBusConnection::sessionBus().isConnected();
}

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kPutBackAction = QStringLiteral("put-back");

QDBusMessage NotificationsCall(const QString& method) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, method);
    // One that the bus starts on demand is started.
    call.setAutoStartService(true);
    return call;
}

}  // namespace

DesktopNotices::DesktopNotices(std::function<void(NoticeAnswer)> answered)
    : answered_(std::move(answered)) {}

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

bool DesktopNotices::Notify(const QString& title, const QString& text, bool failure, bool putBack) {
    if (!HaveSessionBus()) return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!listening_) {
        listening_ = true;
        bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                    SLOT(ActionInvoked(uint, QString)));
        bus.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), this,
                    SLOT(NotificationClosed(uint, uint)));
    }
    // A notice still open is answered for by the one that replaces it.
    if (waiting_) Answer(NoticeAnswer::Closed);
    waiting_ = true;
    shown_ = 0;
    // Never waited for: the event loop goes on while the server answers.
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(NotificationsCall(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, title, text, failure, putBack] {
                watcher->deleteLater();
                const QDBusPendingReply<QStringList> reply = *watcher;
                if (reply.isError()) {
                    Answer(NoticeAnswer::Closed);
                    return;
                }
                Send(title, text, failure, putBack, reply.value());
            });
    return true;
}

void DesktopNotices::Send(const QString& title, const QString& text, bool failure, bool putBack,
                          const QStringList& capabilities) {
    QString body = text;
    if (capabilities.contains(QStringLiteral("body-markup"))) {
        const std::string escaped = EscapeMarkup(text.toStdString());
        body = QString::fromUtf8(escaped.data(), static_cast<qsizetype>(escaped.size()));
    }
    QStringList actions;
    if (capabilities.contains(QStringLiteral("actions"))) {
        actions << QStringLiteral("default") << QString();
        if (putBack) actions << kPutBackAction << QString::fromUtf8(text::kNoticePutBack);
    }
    QDBusMessage call = NotificationsCall(QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(failure ? 2 : 1));
    call << QStringLiteral("Zivev+Korvu") << 0u << QGuiApplication::desktopFileName() << title
         << body << actions << hints << -1;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            Answer(NoticeAnswer::Closed);
        } else if (waiting_) {
            shown_ = reply.value();
        }
    });
}

void DesktopNotices::ActionInvoked(uint id, const QString& action) {
    if (!waiting_ || id != shown_ || id == 0) return;
    Answer(action == kPutBackAction ? NoticeAnswer::PutBack : NoticeAnswer::Clicked);
}

void DesktopNotices::NotificationClosed(uint id, uint) {
    if (!waiting_ || id != shown_ || id == 0) return;
    Answer(NoticeAnswer::Closed);
}

void DesktopNotices::Answer(NoticeAnswer answer) {
    waiting_ = false;
    shown_ = 0;
    if (answered_) answered_(answer);
}

}  // namespace doredaviro::qt
