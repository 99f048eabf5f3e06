#include "qt/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWindow>

#include "core/frmDoredAviro.h"
#include "core/texts.h"
#include "qt/assistive.h"
#include "qt/paint_threads.h"
#include "qt/qt_system.h"
#include "qt/twips.h"

namespace doredaviro::qt {

namespace {

constexpr char kUriList[] = "text/uri-list";

QFont GothicFont(bool bold) {
    QFont font;
    // The Windows face first; then Japanese gothics that Debian ships.
    font.setFamilies({QString::fromUtf8("ＭＳ ゴシック"), QStringLiteral("IPAGothic"),
                      QStringLiteral("IPAexGothic"), QStringLiteral("VL Gothic"),
                      QStringLiteral("TakaoGothic"), QStringLiteral("Noto Sans CJK JP")});
    font.setPointSize(9);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

void Paint(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    // Buttons, the check box among them, fill with the Button role.
    palette.setColor(widget->backgroundRole(), colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

}  // namespace

Key KeyOf(int qtKey) {
    switch (qtKey) {
        case Qt::Key_Delete:
            return Key::Delete;
        case Qt::Key_F1:
            return Key::F1;
        case Qt::Key_F4:
            return Key::F4;
        default:
            return Key::Other;
    }
}

QueueView::QueueView(frmDoredAviro& form, QWidget* parent) : QListView(parent), form_(form) {
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Uniform rows keep a drop of thousands of paths quick to lay out.
    setUniformItemSizes(true);
    setTextElideMode(Qt::ElideMiddle);
}

// A drop is always taken: one that comes during a batch or a message waits
// for it in the handlers.
void QueueView::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasFormat(kUriList)) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void QueueView::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasFormat(kUriList)) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void QueueView::dropEvent(QDropEvent* event) {
    if (!event->mimeData()->hasFormat(kUriList)) {
        event->ignore();
        return;
    }
    // Decoded as a paste is, so that both give the same bytes.
    std::vector<std::string> paths = CopiedPaths(event->mimeData());
    event->acceptProposedAction();
    // Let the drag source finish before any message box can open.
    QTimer::singleShot(0, this,
                       [this, paths = std::move(paths)] { form_.lstFileList_OLEDragDrop(paths); });
}

void QueueView::keyPressEvent(QKeyEvent* event) {
    form_.lstFileList_KeyDown(KeyOf(event->key()));
    QListView::keyPressEvent(event);
}

MainWindow::MainWindow(frmDoredAviro& form)
    : form_(form),
      chkWinPos_(new QCheckBox(QString::fromUtf8(text::kChkWinPos), this)),
      lblMsg_(new QLabel(QString::fromUtf8(text::kLblMsg), this)),
      list_(new QueueView(form, this)),
      lblF1_(new QLabel(QString::fromUtf8(text::kLblF1), this)),
      lblF4_(new QLabel(QString::fromUtf8(text::kLblF4), this)),
      cmdExec_(new QPushButton(QString::fromUtf8(text::kCmdExec), this)),
      cmdClose_(new QPushButton(QString::fromUtf8(text::kCmdClose), this)),
      progress_(new QProgressBar(this)) {
    // Before anything is announced: an announcement fixes the window's role.
    AnnounceAsFrame(this);
    setWindowTitle(QString::fromUtf8(text::kCaption));
    setFont(GothicFont(false));
    const QColor background(192, 192, 255);
    Paint(this, background);
    Paint(chkWinPos_, background);

    list_->setModel(&model_);
    for (QLabel* cap : {lblF1_, lblF4_}) {
        cap->setFont(GothicFont(true));
        cap->setAlignment(Qt::AlignCenter);
        Paint(cap, QColor(192, 255, 255));
    }
    for (QPushButton* button : {cmdExec_, cmdClose_}) {
        button->setFont(GothicFont(true));
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    for (const ControlDef& def : kControls) {
        control(def.control)
            ->setGeometry(ToPixels(def.left), ToPixels(def.top), ToPixels(def.width),
                          ToPixels(def.height));
    }
    lblMsg_->adjustSize();  // sizes itself to its text

    progress_->setGeometry(lblMsg_->geometry().adjusted(0, 0, 0, 2));
    progress_->setTextVisible(true);
    progress_->hide();

    // Named for assistive technology: the list by the label above it.
    lblMsg_->setBuddy(list_);
    list_->setAccessibleName(lblMsg_->text());
    progress_->setAccessibleName(QString::fromUtf8(text::kProgressName));

    setTabOrder(chkWinPos_, list_);
    setTabOrder(list_, cmdExec_);
    setTabOrder(cmdExec_, cmdClose_);
    chkWinPos_->setFocus();

    connect(cmdExec_, &QPushButton::clicked, this, [this] { form_.cmdExec_Click(); });
    connect(cmdClose_, &QPushButton::clicked, this, [this] { form_.cmdClose_Click(); });
    connect(chkWinPos_, &QCheckBox::clicked, this, [this] { form_.chkWinPos_Click(); });

    resize(ToPixels(kClientWidth), ToPixels(kClientHeight));
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow() { qApp->removeEventFilter(this); }

QWidget* MainWindow::control(Control c) const {
    switch (c) {
        case Control::chkWinPos:
            return chkWinPos_;
        case Control::lblMsg:
            return lblMsg_;
        case Control::lstFileList:
            return list_;
        case Control::lblF1:
            return lblF1_;
        case Control::lblF4:
            return lblF4_;
        case Control::cmdExec:
            return cmdExec_;
        case Control::cmdClose:
            return cmdClose_;
    }
    return nullptr;
}

void MainWindow::showCentered() {
    if (const QScreen* screen = this->screen()) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
    }
    show();
}

void MainWindow::setStaysOnTop(bool on) {
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, on);
    // Changing the widget's flags would re-create and hide the window; the
    // native window takes the hint in place, and the widget keeps the record.
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle()) window->setFlags(flags);
}

void MainWindow::showProgress(int done, int total) {
    progress_->setRange(0, total);
    progress_->setValue(done);
    if (progress_->isHidden()) {
        lblMsg_->hide();
        progress_->show();
    }
}

void MainWindow::hideProgress() {
    progress_->hide();
    lblMsg_->show();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // Key preview: the window sees a key before the control that has the focus,
    // which still gets it afterwards.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        // Only the key's first stop counts, not its way up through the parents.
        // The window's own focus control, not the application's: that one is
        // empty while a message box the key opened is closing, which would
        // make the window itself look like a first stop.
        QWidget* first = focusWidget() ? focusWidget() : this;
        if (watched == first) {
            auto* key = static_cast<QKeyEvent*>(event);
            // Files copied in a file manager go in as one drop; other text is ignored.
            if (IsPasteKey(*key)) {
                const std::vector<std::string> paths = CopiedPathsOnClipboard();
                if (!paths.empty()) form_.lstFileList_OLEDragDrop(paths);
                return true;
            }
            form_.Form_KeyDown(KeyOf(key->key()));
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (!painted_) {
        painted_ = true;
        // Start-up work that the window need not wait for.
        QTimer::singleShot(0, this, [] {
            SetProgramIcon();
            KeepPaintThreadsStarted();
        });
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    form_.Form_Resize();
}

// The title bar, Alt+F4 and the window manager close through the handlers too.
void MainWindow::closeEvent(QCloseEvent* event) {
    if (closingForGood_ || form_.Form_QueryUnload()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void MainWindow::closeForGood() {
    closingForGood_ = true;
    close();
}

}  // namespace doredaviro::qt
