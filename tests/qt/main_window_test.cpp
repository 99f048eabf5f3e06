// The Qt layer driven through real Qt events on the offscreen platform: drops,
// keys, resizes, close requests and batches reach the handlers and come back
// out as the list, the window and real launches.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/qt/main_window.h"
#include "platform/qt/qt_platform.h"
#include "startup/modDoredAviro.h"
#include "window/frmDoredAviro.h"
#include "window/texts.h"

Q_DECLARE_METATYPE(doredaviro::Control)

namespace doredaviro {
namespace {

using Rows = std::vector<std::string>;

struct Message {
    std::string prompt;
    int style;
    std::string title;
    bool operator==(const Message& o) const {
        return prompt == o.prompt && style == o.style && title == o.title;
    }
};

// Messages as text, so that a failed comparison shows which differ.
QStringList Said(const std::vector<Message>& messages) {
    QStringList out;
    for (const Message& m : messages) {
        out << QString::fromStdString(m.prompt + " | " + std::to_string(m.style) + " | " + m.title);
    }
    return out;
}

const Message kWait{text::kPleaseWait, vbInformation, text::kCaption};
const Message kSelect{text::kSelectToDelete, vbInformation, text::kCaption};
const Message kFailed{text::kLaunchFailed, vbCritical, text::kCaption};

// The real platform, except that message boxes are recorded instead of
// blocking, and launches and stacking calls are noted on their way through.
class TestPlatform : public qt::QtPlatform {
public:
    std::vector<Message> messages;
    std::function<void(const Message&)> onMessage;
    Rows launched;
    std::function<void(int)> afterLaunch;  // given how many have been tried
    std::vector<std::pair<long long, unsigned>> stacking;
    std::function<void(int, int)> afterProgress;

    // When set, the real modal box is shown, and answered from its own loop.
    bool realBoxes = false;

    void MsgBox(const std::string& prompt, int style, const std::string& title) override {
        messages.push_back({prompt, style, title});
        if (onMessage) onMessage(Message{prompt, style, title});
        if (!realBoxes) return;
        QTimer answer;
        answer.setInterval(10);
        QObject::connect(&answer, &QTimer::timeout, [] {
            if (QWidget* box = QApplication::activeModalWidget()) box->close();
        });
        answer.start();
        QtPlatform::MsgBox(prompt, style, title);
    }
    bool ShellExecute(const std::string& file, const std::string& argument,
                      const std::string& directory) override {
        launched.push_back(argument);
        const bool ok = QtPlatform::ShellExecute(file, argument, directory);
        if (afterLaunch) afterLaunch(static_cast<int>(launched.size()));
        return ok;
    }
    void SetWindowPos(long long insertAfter, int x, int y, int cx, int cy,
                      unsigned flags) override {
        stacking.emplace_back(insertAfter, flags);
        QtPlatform::SetWindowPos(insertAfter, x, y, cx, cy, flags);
    }
    void BatchProgress(int done, int total) override {
        QtPlatform::BatchProgress(done, total);
        if (afterProgress) afterProgress(done, total);
    }
};

std::string Unhex(const QByteArray& hex) { return QByteArray::fromHex(hex).toStdString(); }

struct Record {
    Rows args;
    std::string cwd;
};

// What the recorder wrote, one record per start, in the order written.
std::vector<Record> ReadRecords(const QString& log) {
    QFile file(log);
    std::vector<Record> records;
    if (!file.open(QIODevice::ReadOnly)) return records;
    Record current;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line == "end") {
            records.push_back(current);
            current = Record();
        } else if (line.startsWith("arg=")) {
            current.args.push_back(Unhex(line.mid(4)));
        } else if (line.startsWith("cwd=")) {
            current.cwd = Unhex(line.mid(4));
        }
    }
    return records;
}

// Pixels as the platform stores twips, and back.
int Px(float twips) { return qRound(twips / 15.0f); }
float Tw(int pixels) { return static_cast<float>(pixels) * 15.0f; }

struct Layout {
    QRect list, f1, f4, exec, close;
};

// Where the resize handler's arithmetic puts things for a client area of w×h,
// each step reading the list's pixel-rounded size back.
Layout Expected(int w, int h) {
    const QRect listAsMade(Px(100), Px(735), Px(7875), Px(2220));
    const int listH = std::max(Px(static_cast<float>(Tw(h) / 1.7)), 0);
    const int listW = std::max(Px(static_cast<float>(Tw(w) / 1.02)), 0);
    const float lh = Tw(listH);
    const float lw = Tw(listW);
    const QSize cap(Px(1350), Px(180));
    const QSize button(Px(1350), Px(500));
    Layout l;
    l.list = QRect(listAsMade.topLeft(), QSize(listW, listH));
    l.f1 = QRect(QPoint(Px(lw / 2.0f - 1550.0f), Px(lh + 900.0f)), cap);
    l.exec = QRect(QPoint(Px(lw / 2.0f - 1550.0f), Px(lh + 1100.0f)), button);
    l.f4 = QRect(QPoint(Px(lw / 2.0f + 420.0f), Px(lh + 900.0f)), cap);
    l.close = QRect(QPoint(Px(lw / 2.0f + 420.0f), Px(lh + 1100.0f)), button);
    return l;
}

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void dropQueuesTheExactBytesNewestOnTop();
    void dropIsRefusedWhileABatchWaits();
    void functionKeysActWhereverTheFocusIs_data();
    void functionKeysActWhereverTheFocusIs();
    void functionKeyActsOnceThroughAModalBox_data();
    void functionKeyActsOnceThroughAModalBox();
    void deleteRemovesTheSelectedRowOrAsks();
    void keysStillReachTheFocusedControl();
    void startsAtTheDesignedSize();
    void resizeMovesControlsByTheFormulas_data();
    void resizeMovesControlsByTheFormulas();
    void closeIsRefusedOnlyWhileBusy();
    void longBatchShowsProgressThenHidesIt();
    void failedLaunchesStayQueuedAndSay();
    void checkBoxKeepsTheWindowOnTopInPlace();

private:
    qt::MainWindow& window() { return *platform_->window(); }
    QWidget* control(Control c) { return window().control(c); }
    Rows rows() {
        Rows out;
        for (int i = 0; i < window().model().rowCount(); ++i)
            out.push_back(window().model().path(i));
        return out;
    }
    bool dragOver(const QMimeData& mime);
    bool release(const QMimeData& mime);
    bool drop(const QByteArray& uriList);
    bool focusOn(QWidget* widget);

    std::unique_ptr<QTemporaryDir> dir_;
    QString log_;
    std::unique_ptr<TestPlatform> platform_;
    std::unique_ptr<frmDoredAviro> form_;
};

void MainWindowTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    log_ = dir_->filePath(QStringLiteral("log"));
    qputenv("RECORDER_LOG", QFile::encodeName(log_));
    modDoredAviro::ToolPath = RECORDER_PATH;

    platform_ = std::make_unique<TestPlatform>();
    form_ = std::make_unique<frmDoredAviro>(*platform_);
    platform_->createWindow(*form_);
    window().show();
    window().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window()));
}

void MainWindowTest::cleanup() {
    platform_.reset();
    form_.reset();
    dir_.reset();
}

QMimeData* UriList(const QByteArray& bytes) {
    auto* mime = new QMimeData;
    mime->setData(QStringLiteral("text/uri-list"), bytes);
    return mime;
}

// A drag arriving over the list's viewport: true when it would be taken.
bool MainWindowTest::dragOver(const QMimeData& mime) {
    QWidget* viewport = window().list().viewport();
    const QPoint at = viewport->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    return enter.isAccepted() && move.isAccepted();
}

bool MainWindowTest::release(const QMimeData& mime) {
    QWidget* viewport = window().list().viewport();
    QDropEvent dropped(QPointF(viewport->rect().center()), Qt::CopyAction, &mime, Qt::LeftButton,
                       Qt::NoModifier);
    QApplication::sendEvent(viewport, &dropped);
    return dropped.isAccepted();
}

// A whole drag and drop of a text/uri-list of these raw bytes.
bool MainWindowTest::drop(const QByteArray& uriList) {
    std::unique_ptr<QMimeData> mime(UriList(uriList));
    const bool over = dragOver(*mime);
    return release(*mime) && over;
}

bool MainWindowTest::focusOn(QWidget* widget) {
    widget->setFocus(Qt::TabFocusReason);
    return QTest::qWaitFor([widget] { return QApplication::focusWidget() == widget; });
}

void MainWindowTest::dropQueuesTheExactBytesNewestOnTop() {
    QVERIFY(drop("file:///tmp/X%20first\r\n"));
    QTRY_COMPARE(rows(), (Rows{"/tmp/X first"}));

    const QByteArray list =
        "# a comment line\r\n"
        "file:///tmp/A%20with%20spaces%25and%23hash\r\n"
        "http://example.com/not-a-file\r\n"
        "file:///tmp/%E6%97%A5%E6%9C%AC%E8%AA%9E/B\r\n"
        "file://some-other-host/tmp/elsewhere\r\n"
        "file://localhost/tmp/C-bad-%FF-and-%0A-newline\r\n";
    QVERIFY(drop(list));
    // Applied on the next turn of the event loop, not inside the drop.
    QCOMPARE(window().model().rowCount(), 1);
    const Rows expected = {"/tmp/C-bad-\xff-and-\n-newline", "/tmp/日本語/B",
                           "/tmp/A with spaces%and#hash", "/tmp/X first"};
    QTRY_COMPARE(rows(), expected);

    for (int row = 0; row < static_cast<int>(expected.size()); ++row) {
        platform_->ListSetSelected(row, true);
        QCOMPARE(platform_->ListIndex(), row);
        QCOMPARE(platform_->ListText(), expected[static_cast<std::size_t>(row)]);
    }

    auto shown = [this](int row) {
        return window().model().data(window().model().index(row), Qt::DisplayRole).toString();
    };
    QCOMPARE(shown(0), QString::fromUtf8("/tmp/C-bad-\xef\xbf\xbd-and-\xe2\x86\xb5-newline"));
    QVERIFY(!shown(0).contains(QLatin1Char('\n')));
    QCOMPARE(shown(1), QString::fromUtf8("/tmp/日本語/B"));
    QCOMPARE(shown(2), QStringLiteral("/tmp/A with spaces%and#hash"));
    QVERIFY(platform_->messages.empty());
}

void MainWindowTest::dropIsRefusedWhileABatchWaits() {
    platform_->ListInsertTop({"/tmp/queued"});
    // One drag arrives before the batch and is let go during its message,
    // another arrives during it.
    std::unique_ptr<QMimeData> early(UriList("file:///tmp/early\r\n"));
    QVERIFY(dragOver(*early));
    bool earlyTaken = true, lateOffered = true;
    platform_->onMessage = [&](const Message& m) {
        if (!(m == kWait)) return;
        earlyTaken = release(*early);
        lateOffered = dragOver(*std::unique_ptr<QMimeData>(UriList("file:///tmp/late\r\n")));
    };
    QVERIFY(focusOn(control(Control::cmdExec)));
    QTest::keyClick(control(Control::cmdExec), Qt::Key_F1);
    QVERIFY(!earlyTaken);
    QVERIFY(!lateOffered);
    QTest::qWait(100);
    QVERIFY(rows().empty());

    // Once the message is answered, drops work again.
    QVERIFY(drop("file:///tmp/after\r\n"));
    QTRY_COMPARE(rows(), (Rows{"/tmp/after"}));
}

void MainWindowTest::functionKeysActWhereverTheFocusIs_data() {
    QTest::addColumn<Control>("focus");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    const std::pair<const char*, Control> controls[] = {{"check box", Control::chkWinPos},
                                                        {"list", Control::lstFileList},
                                                        {"execute", Control::cmdExec},
                                                        {"close", Control::cmdClose}};
    const std::pair<const char*, Qt::KeyboardModifiers> shifts[] = {
        {"plain", Qt::NoModifier},
        {"shift", Qt::ShiftModifier},
        {"ctrl", Qt::ControlModifier},
        {"shift+ctrl", Qt::ShiftModifier | Qt::ControlModifier}};
    for (const auto& [controlName, c] : controls) {
        for (const auto& [shiftName, m] : shifts) {
            QTest::addRow("%s, %s", controlName, shiftName) << c << m;
        }
    }
}

void MainWindowTest::functionKeysActWhereverTheFocusIs() {
    QFETCH(Control, focus);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    const std::string path = "/tmp/key test/'$;\n日本";
    platform_->ListInsertTop({path});
    QWidget* target = control(focus);
    QVERIFY(focusOn(target));

    QTest::keyClick(target, Qt::Key_F1, modifiers);
    // One batch, one launch, one message: the key is not handled twice.
    QCOMPARE(Said(platform_->messages), Said({kWait}));
    QCOMPARE(platform_->launched, Rows{path});
    QVERIFY(rows().empty());
    QTRY_COMPARE(ReadRecords(log_).size(), std::size_t{1});
    const Record record = ReadRecords(log_).front();
    QCOMPARE(record.args, Rows{path});
    QCOMPARE(QString::fromStdString(record.cwd), QDir::currentPath());

    QVERIFY(window().isVisible());
    QCOMPARE(QApplication::focusWidget(), target);
    QTest::keyClick(target, Qt::Key_F4, modifiers);
    QVERIFY(!window().isVisible());
    QVERIFY(!form_->Loaded());
}

void MainWindowTest::functionKeyActsOnceThroughAModalBox_data() {
    QTest::addColumn<Control>("focus");
    QTest::newRow("check box") << Control::chkWinPos;
    QTest::newRow("list") << Control::lstFileList;
    QTest::newRow("execute") << Control::cmdExec;
}

// A real box takes the focus out of the window while it is open; the key that
// opened it then goes on to the controls' parents, and must not act again.
void MainWindowTest::functionKeyActsOnceThroughAModalBox() {
    QFETCH(Control, focus);
    platform_->realBoxes = true;
    platform_->ListInsertTop({"/tmp/one"});
    QVERIFY(focusOn(control(focus)));
    QTest::keyClick(control(focus), Qt::Key_F1);
    QCOMPARE(Said(platform_->messages), Said({kWait}));
    QCOMPARE(platform_->launched, Rows{"/tmp/one"});
    QTRY_COMPARE(ReadRecords(log_).size(), std::size_t{1});
}

void MainWindowTest::deleteRemovesTheSelectedRowOrAsks() {
    platform_->ListInsertTop({"r0", "r1", "r2"});
    qt::QueueView& list = window().list();
    QVERIFY(focusOn(&list));
    list.selectionModel()->clearSelection();

    QTest::keyClick(&list, Qt::Key_Delete);
    QCOMPARE(Said(platform_->messages), Said({kSelect}));
    QCOMPARE(rows(), (Rows{"r0", "r1", "r2"}));

    platform_->ListSetSelected(1, true);
    QTest::keyClick(&list, Qt::Key_Delete);
    QCOMPARE(rows(), (Rows{"r0", "r2"}));
    QCOMPARE(platform_->messages.size(), std::size_t{1});

    // Delete belongs to the list: with the focus elsewhere it does nothing.
    platform_->ListSetSelected(0, true);
    QVERIFY(focusOn(control(Control::cmdExec)));
    QTest::keyClick(control(Control::cmdExec), Qt::Key_Delete);
    QCOMPARE(rows(), (Rows{"r0", "r2"}));
    QCOMPARE(platform_->messages.size(), std::size_t{1});
}

void MainWindowTest::keysStillReachTheFocusedControl() {
    platform_->ListInsertTop({"r0", "r1", "r2"});
    qt::QueueView& list = window().list();
    QVERIFY(focusOn(&list));
    platform_->ListSetSelected(0, true);
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(list.currentIndex().row(), 1);
    QCOMPARE(platform_->ListIndex(), 1);
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(platform_->ListIndex(), 2);
    // Delete reaches the list after the window has seen it.
    QTest::keyClick(&list, Qt::Key_Delete);
    QCOMPARE(rows(), (Rows{"r0", "r1"}));

    // The focus starts on the check box, and Space there still ticks it.
    auto& check = window().winPos();
    QVERIFY(focusOn(&check));
    QTest::keyClick(&check, Qt::Key_Space);
    QVERIFY(check.isChecked());
    QTest::keyClick(&check, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&list));
    QVERIFY(platform_->messages.empty());
}

void MainWindowTest::startsAtTheDesignedSize() {
    QCOMPARE(window().size(), QSize(541, 264));
    QCOMPARE(platform_->ScaleWidth(), 8115.0f);
    QCOMPARE(platform_->ScaleHeight(), 3960.0f);
    QCOMPARE(window().windowTitle(), QString::fromUtf8("+Korvu支援Tool  Zivev+Korvu"));

    // What the resize handler leaves alone stays where the table puts it.
    QCOMPARE(control(Control::chkWinPos)->geometry(), QRect(10, 9, 142, 12));
    QCOMPARE(control(Control::lblMsg)->pos(), QPoint(11, 31));
    // The rest moved when the window was first laid out, as on every resize.
    const Layout l = Expected(541, 264);
    QCOMPARE(l.list, QRect(7, 49, 530, 155));
    QCOMPARE(control(Control::lstFileList)->geometry(), l.list);
    QCOMPARE(control(Control::lblF1)->geometry(), l.f1);
    QCOMPARE(control(Control::lblF4)->geometry(), l.f4);
    QCOMPARE(control(Control::cmdExec)->geometry(), l.exec);
    QCOMPARE(control(Control::cmdClose)->geometry(), l.close);
    for (Control c : {Control::chkWinPos, Control::lblMsg, Control::lstFileList, Control::lblF1,
                      Control::lblF4, Control::cmdExec, Control::cmdClose}) {
        QVERIFY(control(c)->isVisible());
    }
}

void MainWindowTest::resizeMovesControlsByTheFormulas_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("larger") << QSize(800, 500);
    QTest::newRow("narrow and tall") << QSize(300, 700);
    QTest::newRow("very small") << QSize(40, 20);
    QTest::newRow("one pixel") << QSize(1, 1);
}

void MainWindowTest::resizeMovesControlsByTheFormulas() {
    QFETCH(QSize, size);
    window().resize(size);
    QTRY_COMPARE(window().size(), size);
    const Layout l = Expected(size.width(), size.height());
    QTRY_COMPARE(control(Control::lstFileList)->geometry(), l.list);
    QCOMPARE(control(Control::lblF1)->geometry(), l.f1);
    QCOMPARE(control(Control::lblF4)->geometry(), l.f4);
    QCOMPARE(control(Control::cmdExec)->geometry(), l.exec);
    QCOMPARE(control(Control::cmdClose)->geometry(), l.close);
    QCOMPARE(control(Control::chkWinPos)->geometry(), QRect(10, 9, 142, 12));

    // And back: nothing drifts from rounding.
    window().resize(541, 264);
    QTRY_COMPARE(control(Control::lstFileList)->geometry(), Expected(541, 264).list);
    QCOMPARE(control(Control::cmdClose)->geometry(), Expected(541, 264).close);
}

void MainWindowTest::closeIsRefusedOnlyWhileBusy() {
    platform_->ListInsertTop({"/tmp/one"});
    bool eventAccepted = true, closed = true, visibleAfter = false;
    platform_->onMessage = [&](const Message& m) {
        if (!(m == kWait)) return;
        QCloseEvent close;
        QApplication::sendEvent(&window(), &close);
        eventAccepted = close.isAccepted();
        closed = window().close();
        QTest::keyClick(control(Control::cmdExec), Qt::Key_F4);
        QTest::mouseClick(control(Control::cmdClose), Qt::LeftButton);
        visibleAfter = window().isVisible();
    };
    QVERIFY(focusOn(control(Control::cmdExec)));
    QTest::mouseClick(control(Control::cmdExec), Qt::LeftButton);
    QCOMPARE(Said(platform_->messages), Said({kWait}));
    QVERIFY(!eventAccepted);
    QVERIFY(!closed);
    QVERIFY(visibleAfter);
    QVERIFY(window().isVisible());
    QVERIFY(form_->Loaded());

    QCloseEvent close;
    QApplication::sendEvent(&window(), &close);
    QVERIFY(close.isAccepted());
}

void MainWindowTest::longBatchShowsProgressThenHidesIt() {
    constexpr int kRows = 1500;
    modDoredAviro::ToolPath = "/bin/true";
    Rows queued;
    for (int i = 0; i < kRows; ++i) queued.push_back("/tmp/row " + std::to_string(i));
    platform_->ListInsertTop(queued);

    auto* bar = window().findChild<QProgressBar*>();
    QVERIFY(bar);
    auto* message = static_cast<QLabel*>(control(Control::lblMsg));
    // However fast this machine spawns, the batch outlasts the delay before
    // the bar appears: the first launch takes its time.
    platform_->afterLaunch = [](int tried) {
        if (tried == 1) QThread::msleep(600);
    };
    // The bar is brought up to date when the batch repaints, so it may lag
    // behind the launches but never run ahead of them.
    int barSeen = 0, labelHiddenWithBar = 0, wrongRange = 0, furthest = 0;
    platform_->afterProgress = [&](int done, int total) {
        if (done >= total || !bar->isVisible()) return;
        if (bar->maximum() != total || bar->value() < 1 || bar->value() > done) ++wrongRange;
        if (!message->isVisible()) ++labelHiddenWithBar;
        furthest = std::max(furthest, bar->value());
    };
    // Only gets to run when the batch lets the event loop turn, so it sees
    // what the user would see painted.
    QTimer tick;
    tick.setInterval(0);
    connect(&tick, &QTimer::timeout, this, [&] {
        if (form_->Busy() && bar->isVisible()) ++barSeen;
    });
    tick.start();
    bool barDuringMessage = true;
    platform_->onMessage = [&](const Message&) { barDuringMessage = bar->isVisible(); };

    QVERIFY(focusOn(&window().list()));
    QTest::keyClick(&window().list(), Qt::Key_F1);
    tick.stop();

    QCOMPARE(platform_->launched.size(), std::size_t{kRows});
    QCOMPARE(platform_->launched.front(), queued.front());
    QCOMPARE(platform_->launched.back(), queued.back());
    QCOMPARE(Said(platform_->messages), Said({kWait}));
    QVERIFY(barSeen > 0);
    QVERIFY(labelHiddenWithBar > 0);
    QCOMPARE(wrongRange, 0);
    QVERIFY(furthest > 1);
    QVERIFY(!barDuringMessage);
    QVERIFY(bar->isHidden());
    QVERIFY(message->isVisible());
    QVERIFY(rows().empty());
}

void MainWindowTest::failedLaunchesStayQueuedAndSay() {
    // An archiver that goes missing after start-up: nothing can be started.
    modDoredAviro::ToolPath = dir_->filePath(QStringLiteral("gone")).toStdString();
    platform_->ListInsertTop({"a", "b", "c"});
    QTest::mouseClick(control(Control::cmdExec), Qt::LeftButton);
    QCOMPARE(Said(platform_->messages), Said({kFailed}));
    QCOMPARE(rows(), (Rows{"a", "b", "c"}));
    QCOMPARE(platform_->ListIndex(), -1);

    // One that goes missing part way: what started leaves, the rest stay.
    const QString archiver = dir_->filePath(QStringLiteral("archiver"));
    QVERIFY(QFile::copy(QStringLiteral(RECORDER_PATH), archiver));
    modDoredAviro::ToolPath = archiver.toStdString();
    platform_->messages.clear();
    platform_->launched.clear();
    platform_->ListInsertTop({"x", "y"});
    platform_->afterLaunch = [&](int tried) {
        if (tried == 3) QFile::remove(archiver);
    };
    QTest::mouseClick(control(Control::cmdExec), Qt::LeftButton);
    QCOMPARE(Said(platform_->messages), Said({kWait, kFailed}));
    QCOMPARE(rows(), (Rows{"b", "c"}));
    QCOMPARE(platform_->ListIndex(), -1);
    QCOMPARE(platform_->launched, (Rows{"x", "y", "a", "b", "c"}));
    QTRY_COMPARE(ReadRecords(log_).size(), std::size_t{3});
    QTest::qWait(100);
    QCOMPARE(ReadRecords(log_).size(), std::size_t{3});
}

void MainWindowTest::checkBoxKeepsTheWindowOnTopInPlace() {
    auto& check = window().winPos();
    QWindow* native = window().windowHandle();
    QVERIFY(native);
    const QRect before = window().geometry();
    const WId id = window().winId();
    const unsigned noMove = SWP_NOSIZE | SWP_NOMOVE;

    QTest::mouseClick(&check, Qt::LeftButton);
    QVERIFY(check.isChecked());
    QCOMPARE(platform_->stacking,
             (std::vector<std::pair<long long, unsigned>>{{HWND_TOPMOST, noMove}}));
    QVERIFY(window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(native->flags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(window().isVisible());
    QCOMPARE(window().windowHandle(), native);
    QCOMPARE(window().winId(), id);
    QCOMPARE(window().geometry(), before);

    QTest::mouseClick(&check, Qt::LeftButton);
    QVERIFY(!check.isChecked());
    QCOMPARE(platform_->stacking.back(), (std::pair<long long, unsigned>{HWND_NOTOPMOST, noMove}));
    QCOMPARE(platform_->stacking.size(), std::size_t{2});
    QVERIFY(!window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!native->flags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(window().isVisible());
    QCOMPARE(window().geometry(), before);
}

}  // namespace
}  // namespace doredaviro

QTEST_MAIN(doredaviro::MainWindowTest)
#include "main_window_test.moc"
