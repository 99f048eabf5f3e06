// The baseline for the start-up time: the least a Qt Widgets program does to
// show the same controls, in the same places, fonts and colours, and nothing more.
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

#include "core/texts.h"
#include "first_paint.h"

namespace {

QFont GothicFont(bool bold) {
    QFont font;
    font.setFamilies({QString::fromUtf8("ＭＳ ゴシック"), QStringLiteral("IPAGothic"),
                      QStringLiteral("IPAexGothic"), QStringLiteral("VL Gothic"),
                      QStringLiteral("TakaoGothic"), QStringLiteral("Noto Sans CJK JP")});
    font.setPointSize(9);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

void Fill(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(widget->backgroundRole(), colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
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
    Fill(&window, QColor(192, 192, 255));
    Fill(check, QColor(192, 192, 255));
    for (QLabel* cap : {f1, f4}) {
        cap->setAlignment(Qt::AlignCenter);
        Fill(cap, QColor(192, 255, 255));
    }
    window.resize(541, 264);

    bench::FirstPaint probe(window, "minimal");
    if (const QScreen* screen = window.screen()) {
        window.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(),
                                               screen->availableGeometry()));
    }
    window.show();
    return QApplication::exec();
}
