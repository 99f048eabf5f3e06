// The baseline for the start-up time: the least a Qt Widgets program does to
// show the same controls, in the same places and fonts, and nothing more.
#include <sys/resource.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "window/texts.h"

namespace {

double MsSinceExec() {
    const char* t0 = std::getenv("BENCH_T0_NS");
    if (!t0) return -1;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ns = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    return static_cast<double>(ns - std::atoll(t0)) / 1e6;
}

class FirstPaint : public QObject {
public:
    explicit FirstPaint(QWidget& window) : window_(window) { window.installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &window_ && event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QTimer::singleShot(0, this, [this] { Report(); });
        }
        return false;
    }

private:
    void Report() {
        const double ms = MsSinceExec();
        if (std::getenv("BENCH_GEOMETRY")) {
            for (QWidget* child : window_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (!child->isVisible()) continue;
                const QRect g = child->geometry();
                std::printf("geometry %s %d,%d %dx%d\n", child->metaObject()->className(), g.x(),
                            g.y(), g.width(), g.height());
            }
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
        std::printf("sample startup.minimal %.3f\nsample startup.minimal_cpu %.3f\n", ms, cpuMs);
        std::fflush(stdout);
        _exit(ms < 0 ? 1 : 0);
    }

    QWidget& window_;
    bool seen_ = false;
};

QFont GothicFont(bool bold) {
    QFont font;
    font.setFamilies({QString::fromUtf8("ＭＳ ゴシック"), QStringLiteral("IPAGothic"),
                      QStringLiteral("IPAexGothic"), QStringLiteral("VL Gothic"),
                      QStringLiteral("TakaoGothic"), QStringLiteral("Noto Sans CJK JP")});
    font.setPointSize(9);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace doredaviro;
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QString::fromUtf8(text::kCaption));
    window.setFont(GothicFont(false));

    // Where the program's window has them once laid out for its first show.
    auto* check = new QCheckBox(QString::fromUtf8(text::kChkWinPos), &window);
    check->setGeometry(10, 9, 142, 12);
    auto* message = new QLabel(QString::fromUtf8(text::kLblMsg), &window);
    message->move(11, 31);
    message->adjustSize();
    auto* list = new QListView(&window);
    list->setGeometry(7, 49, 530, 155);
    auto* f1 = new QLabel(QString::fromUtf8(text::kLblF1), &window);
    f1->setGeometry(162, 215, 90, 12);
    auto* f4 = new QLabel(QString::fromUtf8(text::kLblF4), &window);
    f4->setGeometry(293, 215, 90, 12);
    auto* exec = new QPushButton(QString::fromUtf8(text::kCmdExec), &window);
    exec->setGeometry(162, 228, 90, 33);
    auto* close = new QPushButton(QString::fromUtf8(text::kCmdClose), &window);
    close->setGeometry(293, 228, 90, 33);
    for (QWidget* bold : std::initializer_list<QWidget*>{f1, f4, exec, close}) {
        bold->setFont(GothicFont(true));
    }
    window.resize(541, 264);

    FirstPaint probe(window);
    if (const QScreen* screen = window.screen()) {
        window.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(),
                                               screen->availableGeometry()));
    }
    window.show();
    return QApplication::exec();
}
