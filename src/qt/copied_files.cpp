#include "qt/copied_files.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "posix/uri_list.h"

namespace doredaviro::qt {

namespace {

constexpr char kUriList[] = "text/uri-list";
constexpr char kCopiedFiles[] = "x-special/gnome-copied-files";

std::string Bytes(const QMimeData* mime, const char* format) {
    const QByteArray raw = mime->data(QString::fromLatin1(format));
    return std::string(raw.constData(), static_cast<std::size_t>(raw.size()));
}

}  // namespace

std::vector<std::string> CopiedFiles(const QMimeData* mime) {
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

std::vector<std::string> CopiedFilesOnClipboard() {
    return CopiedFiles(QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard));
}

}  // namespace doredaviro::qt
