// A drag source for the end-to-end tests: a small window that, when pressed,
// drags its arguments as a text/uri-list of file URLs. Each argument's bytes
// are percent-encoded as they are, so names that are not UTF-8 survive.
// Says on standard output when the drag starts, whenever the window under the
// pointer changes its mind about taking it, and whether the drop was taken, so
// a script can release the button only once the target has said yes. Stays
// after the drop: the target fetches the data from this process afterwards.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>
#include <cstdio>

namespace {

void Say(const char* what) {
    std::printf("%s\n", what);
    std::fflush(stdout);
}

class DragSource : public QWidget {
public:
    explicit DragSource(QByteArray uriList) : uriList_(std::move(uriList)) {
        setWindowTitle(QStringLiteral("drag-source"));
        resize(120, 80);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        auto* mime = new QMimeData;
        mime->setData(QStringLiteral("text/uri-list"), uriList_);
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        connect(drag, &QDrag::actionChanged, this, [](Qt::DropAction action) {
            Say(action == Qt::IgnoreAction ? "target refuses" : "target accepts");
        });
        Say("drag started");
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        Say(action == Qt::IgnoreAction ? "drop refused" : "drop taken");
    }

private:
    QByteArray uriList_;
};

}  // namespace

int main(int argc, char* argv[]) {
    QByteArray uriList;
    for (int i = 1; i < argc; ++i) {
        uriList += "file://" + QByteArray(argv[i]).toPercentEncoding("/") + "\r\n";
    }
    QApplication app(argc, argv);
    DragSource source(uriList);
    source.show();
    Say("ready");
    return QApplication::exec();
}
