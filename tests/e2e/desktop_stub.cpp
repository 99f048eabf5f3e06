// Stands in for a desktop on a private session bus: owns org.freedesktop.Notifications, and
// listens for the launcher-entry signal that docks and task managers show. Each notice and each
// progress update becomes one line of LOG; "ready" goes to standard output once it listens.
// With DESKTOP_STUB_CAPS (a comma list, default "body") it claims those capabilities; with
// "body-markup" among them it renders the body as such a server does (tags dropped, entities
// read) before logging it. With DESKTOP_STUB_ACTION it invokes that action of each notice that
// offers it, a moment after showing it, and then closes it.
// usage: desktop_stub LOG
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QObject>
#include <QRegularExpression>
#include <QStringList>
#include <QTextStream>
#include <QTimer>
#include <QVariantMap>
#include <cstdio>

namespace {

QFile* logFile = nullptr;

void Log(const QStringList& fields) {
    QString line = fields.join(QLatin1Char('\t'));
    line.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    logFile->write((line + QLatin1Char('\n')).toUtf8());
    logFile->flush();
}

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public slots:
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int) {
        QString shown = body;
        if (Capabilities().contains(QStringLiteral("body-markup"))) {
            shown.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
            shown.replace(QStringLiteral("&lt;"), QStringLiteral("<"))
                .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
                .replace(QStringLiteral("&quot;"), QStringLiteral("\""))
                .replace(QStringLiteral("&#39;"), QStringLiteral("'"))
                .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        }
        Log({QStringLiteral("notify"), app, icon,
             hints.value(QStringLiteral("desktop-entry")).toString(),
             QString::number(hints.value(QStringLiteral("urgency")).toUInt()), summary, shown});
        const uint id = ++last_;
        if (!actions.isEmpty()) Log({QStringLiteral("actions"), actions.join(QLatin1Char('|'))});
        const QString wanted = qEnvironmentVariable("DESKTOP_STUB_ACTION");
        if (!wanted.isEmpty() && actions.contains(wanted)) {
            QTimer::singleShot(500, this, [id, wanted] {
                Log({QStringLiteral("invoked"), wanted});
                Emit(QStringLiteral("ActionInvoked"), {id, wanted});
                Emit(QStringLiteral("NotificationClosed"), {id, 2u});
            });
        }
        return id;
    }
    QStringList GetCapabilities() { return Capabilities(); }

private:
    static QStringList Capabilities() {
        const QString caps = qEnvironmentVariable("DESKTOP_STUB_CAPS", QStringLiteral("body"));
        return caps.split(QLatin1Char(','));
    }
    static void Emit(const QString& name, const QVariantList& arguments) {
        QDBusMessage signal =
            QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                       QStringLiteral("org.freedesktop.Notifications"), name);
        signal.setArguments(arguments);
        QDBusConnection::sessionBus().send(signal);
    }

public:
private:
    uint last_ = 0;
};

class Launcher : public QObject {
    Q_OBJECT
public slots:
    void Update(const QString& app, const QVariantMap& properties) {
        Log({QStringLiteral("progress"), app,
             QString::number(properties.value(QStringLiteral("progress")).toDouble()),
             properties.value(QStringLiteral("progress-visible")).toBool()
                 ? QStringLiteral("shown")
                 : QStringLiteral("hidden"),
             QString::number(properties.value(QStringLiteral("count")).toLongLong())});
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 2) return 2;
    QFile log(QString::fromLocal8Bit(argv[1]));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) return 1;
    logFile = &log;
    QDBusConnection bus = QDBusConnection::sessionBus();
    Notifications notifications;
    Launcher launcher;
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications")) ||
        !bus.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                     QStringLiteral("Update"), &launcher, SLOT(Update(QString, QVariantMap)))) {
        std::fprintf(stderr, "desktop_stub: cannot take the bus names\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

#include "desktop_stub.moc"
