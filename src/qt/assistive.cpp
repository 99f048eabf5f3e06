#include "qt/assistive.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMimeData>
#include <QPointer>
#include <QWidget>

#include "posix/uri_list.h"

namespace doredaviro::qt {

namespace {

constexpr char kUriList[] = "text/uri-list";
constexpr char kCopiedFiles[] = "x-special/gnome-copied-files";

// The windows to announce as frames; a factory takes no state of its own.
QList<QPointer<QWidget>>& Frames() {
    static QList<QPointer<QWidget>> frames;
    return frames;
}

QAccessibleInterface* FrameFactory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr || !Frames().contains(QPointer<QWidget>(widget))) return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Window);
}

std::string Bytes(const QMimeData* mime, const char* format) {
    const QByteArray raw = mime->data(QString::fromLatin1(format));
    return std::string(raw.constData(), static_cast<std::size_t>(raw.size()));
}

}  // namespace

void AnnounceAsFrame(QWidget* window) {
    static const bool installed = [] {
        QAccessible::installFactory(&FrameFactory);
        return true;
    }();
    (void)installed;
    Frames().removeAll(QPointer<QWidget>());
    Frames().append(window);
}

bool IsPasteKey(const QKeyEvent& event) { return event.matches(QKeySequence::Paste); }

std::vector<std::string> CopiedPaths(const QMimeData* mime) {
    if (mime == nullptr) return {};
    std::vector<std::string> paths;
    if (mime->hasFormat(QString::fromLatin1(kUriList))) {
        paths = posix::LocalPathsFromUriList(Bytes(mime, kUriList));
    }
    if (paths.empty() && mime->hasFormat(QString::fromLatin1(kCopiedFiles))) {
        paths = posix::LocalPathsFromCopiedFiles(Bytes(mime, kCopiedFiles));
    }
    return paths;
}

std::vector<std::string> CopiedPathsOnClipboard() {
    return CopiedPaths(QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard));
}

}  // namespace doredaviro::qt
