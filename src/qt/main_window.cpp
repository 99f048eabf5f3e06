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
#include "qt/copied_files.h"
#include "qt/paint_threads.h"
#include "qt/qt_system.h"
#include "qt/twips.h"

namespace doredaviro::qt {

namespace {

constexpr char kUriList[] = "text/uri-list";

QFont GothicFont(int weight) {
    QFont font;
    // The face the window names first; then Japanese gothics that Debian ships. Qt picks the
    // script's glyphs itself, so the character set has nothing to set here.
    font.setFamilies({QString::fromUtf8(kFontFace), QStringLiteral("IPAGothic"),
                      QStringLiteral("IPAexGothic"), QStringLiteral("VL Gothic"),
                      QStringLiteral("TakaoGothic"), QStringLiteral("Noto Sans CJK JP")});
    font.setPointSize(kFontPoints);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

void Paint(QWidget* widget, Rgb colour) {
    QPalette palette = widget->palette();
    // Buttons, the check box among them, fill with the Button role.
    palette.setColor(widget->backgroundRole(), QColor(colour.r, colour.g, colour.b));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// The key code Windows gives the same key (letters and digits are their characters in both),
// and the shift state, for the window's one rule.
Key KeyOf(const QKeyEvent& event) {
    const int key = event.key();
    int code = 0;
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z)) {
        code = key;
    } else if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        code = keycode::kF1 + (key - Qt::Key_F1);
    } else if (key == Qt::Key_Delete) {
        code = keycode::kDelete;
    } else if (key == Qt::Key_Insert) {
        code = keycode::kInsert;
    }
    const Qt::KeyboardModifiers held = event.modifiers();
    const int shift = (held.testFlag(Qt::ShiftModifier) ? kShift : 0) |
                      (held.testFlag(Qt::ControlModifier) ? kCtrl : 0) |
                      (held.testFlag(Qt::AltModifier) ? kAlt : 0);
    return doredaviro::KeyOf(code, shift);
}

}  // namespace

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
    std::vector<std::string> paths = CopiedFiles(event->mimeData());
    event->acceptProposedAction();
    // Let the drag source finish before any message box can open.
    QTimer::singleShot(0, this,
                       [this, paths = std::move(paths)] { form_.lstFileList_OLEDragDrop(paths); });
}

void QueueView::keyPressEvent(QKeyEvent* event) {
    form_.lstFileList_KeyDown(KeyOf(*event));
    QListView::keyPressEvent(event);
}

MainWindow::MainWindow(frmDoredAviro& form) : form_(form) {
    // Before anything is announced: an announcement fixes the window's role.
    AnnounceAsFrame(this);
    setWindowTitle(QString::fromUtf8(text::kCaption));
    setFont(GothicFont(kNormalWeight));
    Paint(this, kFormColour);

    for (const ControlDef& def : kControls) {
        const QString caption = QString::fromUtf8(def.caption);
        QWidget* widget = nullptr;
        switch (def.kind) {
            case ControlKind::CheckBox:
                widget = new QCheckBox(caption, this);
                break;
            case ControlKind::Label: {
                auto* label = new QLabel(caption, this);
                if (def.centred) label->setAlignment(Qt::AlignCenter);
                widget = label;
                break;
            }
            case ControlKind::ListBox:
                widget = list_ = new QueueView(form, this);
                list_->setModel(&model_);
                break;
            case ControlKind::CommandButton: {
                auto* button = new QPushButton(caption, this);
                button->setAutoDefault(false);
                button->setDefault(false);
                widget = button;
                break;
            }
        }
        controls_[static_cast<std::size_t>(def.control)] = widget;
        if (def.bold) widget->setFont(GothicFont(kBoldWeight));
        if (def.background == Background::Own) Paint(widget, def.colour);
        widget->setGeometry(ToPixels(def.left), ToPixels(def.top), ToPixels(def.width),
                            ToPixels(def.height));
        if (def.sizesToText) widget->adjustSize();
    }

    progress_ = new QProgressBar(this);
    progress_->setGeometry(
        control(kProgressInPlaceOf)->geometry().adjusted(0, 0, 0, ToPixels(kProgressExtraHeight)));
    progress_->setTextVisible(true);
    progress_->hide();

    // Named for assistive technology: the list by the label above it.
    auto* instruction = static_cast<QLabel*>(control(Control::lblMsg));
    instruction->setBuddy(list_);
    list_->setAccessibleName(instruction->text());
    progress_->setAccessibleName(QString::fromUtf8(text::kProgressName));

    const std::vector<Control> order = TabOrder();
    for (std::size_t i = 1; i < order.size(); ++i) {
        setTabOrder(control(order[i - 1]), control(order[i]));
    }
    control(order.front())->setFocus();

    connect(static_cast<QPushButton*>(control(Control::cmdExec)), &QPushButton::clicked, this,
            [this] { form_.cmdExec_Click(); });
    connect(static_cast<QPushButton*>(control(Control::cmdClose)), &QPushButton::clicked, this,
            [this] { form_.cmdClose_Click(); });
    connect(&winPos(), &QCheckBox::clicked, this, [this] { form_.chkWinPos_Click(); });

    resize(ToPixels(kClientWidth), ToPixels(kClientHeight));
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow() { qApp->removeEventFilter(this); }

QCheckBox& MainWindow::winPos() { return *static_cast<QCheckBox*>(control(Control::chkWinPos)); }

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
        control(kProgressInPlaceOf)->hide();
        progress_->show();
    }
}

void MainWindow::hideProgress() {
    progress_->hide();
    control(kProgressInPlaceOf)->show();
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
        if (watched == first) form_.Form_KeyDown(KeyOf(*static_cast<QKeyEvent*>(event)));
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
