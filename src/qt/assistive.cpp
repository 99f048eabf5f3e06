#include "qt/assistive.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QWidget>

namespace doredaviro::qt {

namespace {

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

}  // namespace doredaviro::qt
