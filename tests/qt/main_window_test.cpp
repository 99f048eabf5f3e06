// The Qt layer driven through real Qt events on the offscreen platform: drops,
// keys, resizes, close requests and batches reach the handlers and come back
// out as the list, the window and real launches.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/frmDoredAviro.h"
#include "core/texts.h"
#include "input_cases.h"
#include "posix/hand_over.h"
#include "posix/instance_lock.h"
#include "qt/main_window.h"
#include "qt/qt_form.h"
#include "qt/qt_system.h"
#include "test_support.h"

Q_DECLARE_METATYPE(doredaviro::Control)

namespace doredaviro {
namespace {

using Rows = std::vector<std::string>;

using Message = testing::MsgBoxCall;

// Messages as text, so that a failed comparison shows which differ.
QStringList Said(const std::vector<Message>& messages) {
    QStringList out;
    for (const Message& m : messages) {
        out << QString::fromStdString(m.prompt + " | " + std::to_string(static_cast<int>(m.style)) +
                                      " | " + m.title);
    }
    return out;
}

const Message kWait{text::kPleaseWait, MessageStyle::Information, text::kCaption};
const Message kSelect{text::kSelectToDelete, MessageStyle::Information, text::kCaption};
const Message kFailed{text::kLaunchFailed, MessageStyle::Critical, text::kCaption};

// The real services, except that message boxes are recorded instead of
// blocking, and launches are noted on their way through.
class TestSystem : public qt::QtSystem {
public:
    std::vector<Message> messages;
    std::function<void(const Message&)> onMessage;
    Rows launched;
    std::function<void(int)> afterLaunch;  // given how many have been tried

    // When set, the real modal box is shown, and answered from its own loop.
    bool realBoxes = false;

    void MsgBox(const std::string& prompt, MessageStyle style, const std::string& title) override {
        messages.push_back({prompt, style, title});
        if (onMessage) onMessage(Message{prompt, style, title});
        if (!realBoxes) return;
        QTimer answer;
        answer.setInterval(10);
        QObject::connect(&answer, &QTimer::timeout, [] {
            if (QWidget* box = QApplication::activeModalWidget()) box->close();
        });
        answer.start();
        QtSystem::MsgBox(prompt, style, title);
    }
    Launched Launch(const std::string& tool, const std::string& path,
                    const std::string& folder) override {
        launched.push_back(path);
        const Launched result = QtSystem::Launch(tool, path, folder);
        if (afterLaunch) afterLaunch(static_cast<int>(launched.size()));
        return result;
    }
    // The settings file is read from here, and no other copy runs.
    std::string programFolder;
    std::string ProgramFolder() override { return programFolder; }
    bool AnotherCopyRuns() override { return false; }
};

// The real form, with its stacking calls and batch progress noted.
class TestForm : public qt::QtForm {
public:
    using QtForm::QtForm;
    std::vector<bool> stacking;
    std::function<void(int, int)> afterProgress;

    void SetAlwaysOnTop(bool on) override {
        stacking.push_back(on);
        QtForm::SetAlwaysOnTop(on);
    }
    void ShowProgress(int done, int total) override {
        QtForm::ShowProgress(done, total);
        if (afterProgress) afterProgress(done, total);
    }
};

// Where the resize handler puts things, in pixels, for a client area as given.
struct Layout {
    QRect list, f1, f4, exec, close;
};
const Layout kDesigned{{7, 49, 530, 155},
                       {162, 215, 90, 12},
                       {293, 215, 90, 12},
                       {162, 228, 90, 33},
                       {293, 228, 90, 33}};

}  // namespace
}  // namespace doredaviro

Q_DECLARE_METATYPE(doredaviro::Layout)

namespace doredaviro {
namespace {

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void dropQueuesTheExactBytesNewestOnTop();
    void dropDuringABatchGoesInWhenItEnds();
    void functionKeysActWhereverTheFocusIs_data();
    void functionKeysActWhereverTheFocusIs();
    void functionKeyActsOnceThroughAModalBox_data();
    void functionKeyActsOnceThroughAModalBox();
    void deleteRemovesTheSelectedRowOrAsks();
    void keysStillReachTheFocusedControl();
    void pasteOfTooManyIsRefusedWhole();
    void startsAtTheDesignedSize();
    void resizeMovesControlsByTheFormulas_data();
    void resizeMovesControlsByTheFormulas();
    void closeIsRefusedOnlyWhileBusy();
    void longBatchShowsProgressThenHidesIt();
    void failedLaunchesStayQueuedAndSay();
    void checkBoxKeepsTheWindowOnTopInPlace();
    void theWindowGoesBeforeTheHandlers();
    void aConfirmationTheSocketTookJoinsTheListBeforeAClose();
    void otherChildrenAreWaitedForAsUsual();
    void followsTheInputTable_data();
    void followsTheInputTable();

private:
    // A fresh form whose settings file names `archiver`, loaded, shown and active.
    void start(const std::string& archiver);
    // A system whose program folder holds a settings file naming `archiver`.
    std::unique_ptr<TestSystem> systemFor(const std::string& archiver);
    qt::MainWindow& window() { return form_->window(); }
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
    void perform(const testing::Step& step, bool settle);
    void offer(const Rows& paths);
    void confirm(bool settle);

    std::unique_ptr<testing::TempDir> dir_;
    QString log_;
    std::unique_ptr<TestSystem> system_;
    std::unique_ptr<TestForm> form_;
    // Later starts of the table's cases: every connection, those told of room not confirmed
    // yet, and what they learnt.
    std::vector<int> senders_;
    std::deque<int> held_;
    std::vector<std::string> answers_;
};

void MainWindowTest::init() {
    dir_ = std::make_unique<testing::TempDir>();
    log_ = QString::fromStdString(dir_->file("log"));
    qputenv("RECORDER_LOG", QFile::encodeName(log_));
    start(RECORDER_PATH);
}

void MainWindowTest::start(const std::string& archiver) {
    form_.reset();
    system_ = systemFor(archiver);
    form_ = std::make_unique<TestForm>(*system_);
    QVERIFY(form_->Load());
    window().show();
    window().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window()));
}

std::unique_ptr<TestSystem> MainWindowTest::systemFor(const std::string& archiver) {
    auto system = std::make_unique<TestSystem>();
    system->programFolder = dir_->file("program");
    QDir().mkpath(QString::fromStdString(system->programFolder));
    QFile ini(QString::fromStdString(system->programFolder + "/" + text::kIniFileName));
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate)) return system;
    ini.write(("[Korvu Path]\nPath=" + archiver + "\n").c_str());
    return system;
}

void MainWindowTest::cleanup() {
    for (int fd : senders_) close(fd);
    senders_.clear();
    held_.clear();
    answers_.clear();
    form_.reset();
    system_.reset();
    dir_.reset();
}

std::vector<testing::RecorderRecord> Records(const QString& log) {
    return testing::ReadRecorderLog(log.toStdString());
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
        form_->ListSelect(row);
        QCOMPARE(form_->ListIndex(), row);
        QCOMPARE(form_->ListText(row), expected[static_cast<std::size_t>(row)]);
    }
    form_->ListSelect(-1);
    QCOMPARE(form_->ListIndex(), -1);

    auto shown = [this](int row) {
        return window().model().data(window().model().index(row), Qt::DisplayRole).toString();
    };
    QCOMPARE(shown(0), QString::fromUtf8("/tmp/C-bad-\xef\xbf\xbd-and-\xe2\x86\xb5-newline"));
    QVERIFY(!shown(0).contains(QLatin1Char('\n')));
    QCOMPARE(shown(1), QString::fromUtf8("/tmp/日本語/B"));
    QCOMPARE(shown(2), QStringLiteral("/tmp/A with spaces%and#hash"));
    QVERIFY(system_->messages.empty());
}

void MainWindowTest::dropDuringABatchGoesInWhenItEnds() {
    form_->ListInsertTop({"/tmp/queued"});
    system_->realBoxes = true;
    // One drag arrives before the batch and is let go during its message,
    // another comes and goes during it; the list does not change meanwhile.
    std::unique_ptr<QMimeData> early(UriList("file:///tmp/early\r\n"));
    QVERIFY(dragOver(*early));
    bool earlyTaken = false, lateTaken = false;
    Rows duringMessage = {"not seen"};
    system_->onMessage = [&](const Message& m) {
        if (!(m == kWait)) return;
        earlyTaken = release(*early);
        lateTaken = drop("file:///tmp/late\r\n");
        QTimer::singleShot(5, [&] { duringMessage = rows(); });
    };
    QVERIFY(focusOn(control(Control::cmdExec)));
    QTest::keyClick(control(Control::cmdExec), Qt::Key_F1);
    QVERIFY(earlyTaken);
    QVERIFY(lateTaken);
    QCOMPARE(duringMessage, Rows{"/tmp/queued"});
    QTRY_COMPARE(rows(), (Rows{"/tmp/late", "/tmp/early"}));
    QCOMPARE(Said(system_->messages), Said({kWait}));
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
    form_->ListInsertTop({path});
    QWidget* target = control(focus);
    QVERIFY(focusOn(target));

    QTest::keyClick(target, Qt::Key_F1, modifiers);
    // One batch, one launch, one message: the key is not handled twice.
    QCOMPARE(Said(system_->messages), Said({kWait}));
    QCOMPARE(system_->launched, Rows{path});
    QVERIFY(rows().empty());
    QTRY_COMPARE(Records(log_).size(), std::size_t{1});
    const testing::RecorderRecord record = Records(log_).front();
    QCOMPARE(record.args, Rows{path});
    QCOMPARE(QString::fromStdString(record.at("cwd")), QDir::currentPath());

    QVERIFY(window().isVisible());
    QCOMPARE(QApplication::focusWidget(), target);
    QTest::keyClick(target, Qt::Key_F4, modifiers);
    QVERIFY(!window().isVisible());
    QVERIFY(!form_->form().Loaded());
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
    system_->realBoxes = true;
    form_->ListInsertTop({"/tmp/one"});
    QVERIFY(focusOn(control(focus)));
    QTest::keyClick(control(focus), Qt::Key_F1);
    QCOMPARE(Said(system_->messages), Said({kWait}));
    QCOMPARE(system_->launched, Rows{"/tmp/one"});
    QTRY_COMPARE(Records(log_).size(), std::size_t{1});
}

void MainWindowTest::deleteRemovesTheSelectedRowOrAsks() {
    form_->ListInsertTop({"r0", "r1", "r2"});
    qt::QueueView& list = window().list();
    QVERIFY(focusOn(&list));
    list.selectionModel()->clearSelection();

    QTest::keyClick(&list, Qt::Key_Delete);
    QCOMPARE(Said(system_->messages), Said({kSelect}));
    QCOMPARE(rows(), (Rows{"r0", "r1", "r2"}));

    form_->ListSelect(1);
    QTest::keyClick(&list, Qt::Key_Delete);
    QCOMPARE(rows(), (Rows{"r0", "r2"}));
    QCOMPARE(system_->messages.size(), std::size_t{1});

    // Delete belongs to the list: with the focus elsewhere it does nothing.
    form_->ListSelect(0);
    QVERIFY(focusOn(control(Control::cmdExec)));
    QTest::keyClick(control(Control::cmdExec), Qt::Key_Delete);
    QCOMPARE(rows(), (Rows{"r0", "r2"}));
    QCOMPARE(system_->messages.size(), std::size_t{1});
}

void MainWindowTest::keysStillReachTheFocusedControl() {
    form_->ListInsertTop({"r0", "r1", "r2"});
    qt::QueueView& list = window().list();
    QVERIFY(focusOn(&list));
    form_->ListSelect(0);
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(list.currentIndex().row(), 1);
    QCOMPARE(form_->ListIndex(), 1);
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(form_->ListIndex(), 2);
    // Delete reaches the list after the window has seen it.
    QTest::keyClick(&list, Qt::Key_Delete);
    QCOMPARE(rows(), (Rows{"r0", "r1"}));

    // The focus starts on the check box, and Space there still ticks it.
    auto& check = window().winPos();
    QVERIFY(focusOn(&check));
    QTest::keyClick(&check, Qt::Key_Space);
    QVERIFY(check.isChecked());
    // Tab walks the window's tab order, round to the start.
    for (Control next :
         {Control::lstFileList, Control::cmdExec, Control::cmdClose, Control::chkWinPos}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control(next));
    }
    QVERIFY(system_->messages.empty());
}

// Files pasted past the queue's limit are refused as a drop of them is, the list unchanged.
void MainWindowTest::pasteOfTooManyIsRefusedWhole() {
    form_->ListInsertTop({"/tmp/X"});
    QByteArray many;
    for (int i = 0; i < kMaxRows; ++i) many += "file:///tmp/f" + QByteArray::number(i) + "\r\n";
    QApplication::clipboard()->setMimeData(UriList(many));
    QVERIFY(focusOn(&window().list()));
    QTest::keyClick(&window().list(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(rows(), (Rows{"/tmp/X"}));
    QCOMPARE(Said(system_->messages),
             Said({{text::kQueueFull, MessageStyle::Exclamation, text::kCaption}}));
}

void MainWindowTest::startsAtTheDesignedSize() {
    QCOMPARE(window().size(), QSize(541, 264));
    QCOMPARE(form_->ScaleWidth(), 8115.0f);
    QCOMPARE(form_->ScaleHeight(), 3960.0f);
    QCOMPARE(window().windowTitle(), QString::fromUtf8("+Korvu支援Tool  Zivev+Korvu"));

    // What the resize handler leaves alone stays where the table puts it.
    QCOMPARE(control(Control::chkWinPos)->geometry(), QRect(10, 9, 142, 12));
    QCOMPARE(control(Control::lblMsg)->pos(), QPoint(11, 31));
    // The rest moved when the window was first laid out, as on every resize.
    const Layout& l = kDesigned;
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
    QTest::addColumn<Layout>("layout");
    const QSize cap(90, 12), button(90, 33);
    QTest::newRow("larger") << QSize(800, 500)
                            << Layout{{7, 49, 784, 294},
                                      {{289, 354}, cap},
                                      {{420, 354}, cap},
                                      {{289, 367}, button},
                                      {{420, 367}, button}};
    QTest::newRow("narrow and tall") << QSize(300, 700)
                                     << Layout{{7, 49, 294, 412},
                                               {{44, 472}, cap},
                                               {{175, 472}, cap},
                                               {{44, 485}, button},
                                               {{175, 485}, button}};
    QTest::newRow("very small") << QSize(40, 20)
                                << Layout{{7, 49, 39, 12},
                                          {{-84, 72}, cap},
                                          {{48, 72}, cap},
                                          {{-84, 85}, button},
                                          {{48, 85}, button}};
    QTest::newRow("one pixel") << QSize(1, 1)
                               << Layout{{7, 49, 1, 1},
                                         {{-103, 61}, cap},
                                         {{29, 61}, cap},
                                         {{-103, 74}, button},
                                         {{29, 74}, button}};
}

void MainWindowTest::resizeMovesControlsByTheFormulas() {
    QFETCH(QSize, size);
    QFETCH(Layout, layout);
    window().resize(size);
    QTRY_COMPARE(window().size(), size);
    const Layout& l = layout;
    QTRY_COMPARE(control(Control::lstFileList)->geometry(), l.list);
    QCOMPARE(control(Control::lblF1)->geometry(), l.f1);
    QCOMPARE(control(Control::lblF4)->geometry(), l.f4);
    QCOMPARE(control(Control::cmdExec)->geometry(), l.exec);
    QCOMPARE(control(Control::cmdClose)->geometry(), l.close);
    QCOMPARE(control(Control::chkWinPos)->geometry(), QRect(10, 9, 142, 12));

    // And back: nothing drifts from rounding.
    window().resize(541, 264);
    QTRY_COMPARE(control(Control::lstFileList)->geometry(), kDesigned.list);
    QCOMPARE(control(Control::cmdClose)->geometry(), kDesigned.close);
}

void MainWindowTest::closeIsRefusedOnlyWhileBusy() {
    form_->ListInsertTop({"/tmp/one"});
    bool eventAccepted = true, closed = true, visibleAfter = false;
    system_->onMessage = [&](const Message& m) {
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
    QCOMPARE(Said(system_->messages), Said({kWait}));
    QVERIFY(!eventAccepted);
    QVERIFY(!closed);
    QVERIFY(visibleAfter);
    QVERIFY(window().isVisible());
    QVERIFY(form_->form().Loaded());

    QCloseEvent close;
    QApplication::sendEvent(&window(), &close);
    QVERIFY(close.isAccepted());
}

void MainWindowTest::longBatchShowsProgressThenHidesIt() {
    constexpr int kRows = 1500;
    start("/bin/true");
    Rows queued;
    for (int i = 0; i < kRows; ++i) queued.push_back("/tmp/row " + std::to_string(i));
    form_->ListInsertTop(queued);

    auto* bar = window().findChild<QProgressBar*>();
    QVERIFY(bar);
    auto* message = static_cast<QLabel*>(control(Control::lblMsg));
    // However fast this machine spawns, the batch outlasts the delay before
    // the bar appears: the first launch takes its time.
    system_->afterLaunch = [](int tried) {
        if (tried == 1) QThread::msleep(600);
    };
    // The bar is brought up to date when the batch repaints, so it may lag
    // behind the launches but never run ahead of them.
    int barSeen = 0, labelHiddenWithBar = 0, wrongRange = 0, furthest = 0;
    form_->afterProgress = [&](int done, int total) {
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
        if (form_->form().Busy() && bar->isVisible()) ++barSeen;
    });
    tick.start();
    bool barDuringMessage = true;
    system_->onMessage = [&](const Message&) { barDuringMessage = bar->isVisible(); };

    QVERIFY(focusOn(&window().list()));
    QTest::keyClick(&window().list(), Qt::Key_F1);
    tick.stop();

    QCOMPARE(system_->launched.size(), std::size_t{kRows});
    QCOMPARE(system_->launched.front(), queued.front());
    QCOMPARE(system_->launched.back(), queued.back());
    QCOMPARE(Said(system_->messages), Said({kWait}));
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
    const QString gone = QString::fromStdString(dir_->file("gone"));
    QVERIFY(QFile::copy(QStringLiteral(RECORDER_PATH), gone));
    start(gone.toStdString());
    QVERIFY(QFile::remove(gone));
    form_->ListInsertTop({"a", "b", "c"});
    QTest::mouseClick(control(Control::cmdExec), Qt::LeftButton);
    QCOMPARE(Said(system_->messages), Said({kFailed}));
    QCOMPARE(rows(), (Rows{"a", "b", "c"}));
    QCOMPARE(form_->ListIndex(), -1);

    // One that goes missing part way: what started leaves, the rest stay.
    const QString archiver = QString::fromStdString(dir_->file("archiver"));
    QVERIFY(QFile::copy(QStringLiteral(RECORDER_PATH), archiver));
    start(archiver.toStdString());
    form_->ListInsertTop({"x", "y", "a", "b", "c"});
    system_->afterLaunch = [&](int tried) {
        if (tried == 3) QFile::remove(archiver);
    };
    QTest::mouseClick(control(Control::cmdExec), Qt::LeftButton);
    QCOMPARE(Said(system_->messages), Said({kWait, kFailed}));
    QCOMPARE(rows(), (Rows{"b", "c"}));
    QCOMPARE(form_->ListIndex(), -1);
    QCOMPARE(system_->launched, (Rows{"x", "y", "a", "b", "c"}));
    QTRY_COMPARE(Records(log_).size(), std::size_t{3});
    QTest::qWait(100);
    QCOMPARE(Records(log_).size(), std::size_t{3});
}

void MainWindowTest::checkBoxKeepsTheWindowOnTopInPlace() {
    auto& check = window().winPos();
    QWindow* native = window().windowHandle();
    QVERIFY(native);
    const QRect before = window().geometry();
    const WId id = window().winId();

    QTest::mouseClick(&check, Qt::LeftButton);
    QVERIFY(check.isChecked());
    QCOMPARE(form_->stacking, std::vector<bool>{true});
    QVERIFY(window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(native->flags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(window().isVisible());
    QCOMPARE(window().windowHandle(), native);
    QCOMPARE(window().winId(), id);
    QCOMPARE(window().geometry(), before);

    QTest::mouseClick(&check, Qt::LeftButton);
    QVERIFY(!check.isChecked());
    QCOMPARE(form_->stacking, (std::vector<bool>{true, false}));
    QVERIFY(!window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!native->flags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(window().isVisible());
    QCOMPARE(window().geometry(), before);
}

// The window turns its events into the handlers' calls until it is gone, so the
// handlers must outlive it, whichever way the form is put together.
void MainWindowTest::theWindowGoesBeforeTheHandlers() {
    const std::string tool = dir_->file(std::string(64, 'k'));  // long enough for the heap
    QVERIFY(QFile::copy(QStringLiteral(RECORDER_PATH), QString::fromStdString(tool)));
    std::unique_ptr<TestSystem> system = systemFor(tool);
    std::string seenAtTheEnd;
    auto form = std::make_unique<TestForm>(*system);
    QVERIFY(form->Load());
    TestForm* raw = form.get();
    connect(&form->window(), &QObject::destroyed,
            [&seenAtTheEnd, raw] { seenAtTheEnd = raw->form().settings().ToolPath; });
    form.reset();
    QCOMPARE(seenAtTheEnd, tool);
}

// The single-copy lock this process takes once, in a runtime folder of its own: a form shown
// after takes hand-overs beside it.
const std::string& TestLock() {
    static testing::TempDir dir;
    static const std::string lock = [] {
        const std::string runtime = dir.file("runtime");
        QDir().mkpath(QString::fromStdString(runtime));
        QFile::setPermissions(QString::fromStdString(runtime), QFileDevice::ReadOwner |
                                                                   QFileDevice::WriteOwner |
                                                                   QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime));
        qputenv("HOME", QByteArray::fromStdString(runtime));
        qunsetenv("XDG_CACHE_HOME");
        qputenv("DISPLAY", ":93");
        return posix::AnotherInstanceRuns() || !posix::HoldsInstanceLock()
                   ? std::string()
                   : posix::HeldInstanceLocks().back();
    }();
    // A window that closed gave the lock up; the next one's start takes it again.
    if (!lock.empty() && !posix::HoldsInstanceLock()) posix::AnotherInstanceRuns();
    return lock;
}

// A later start speaking the hand-over by hand, so that the test says when it confirms: it
// sends `paths` beside `lock` and reads the answer; once a byte comes on `pipes[0]` it confirms,
// and writes 'T' on `pipes[1]` when the socket took the confirmation. Its exit status is 10 when
// the copy said after that it kept them.
pid_t StartManualSender(const std::string& lock, const Rows& paths, int pipes[2]) {
    const std::string frame = posix::EncodeHandOver(paths);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    posix::HandOverSocketPath(lock).copy(address.sun_path, sizeof address.sun_path - 1);
    int go[2], done[2];
    if (pipe(go) != 0 || pipe(done) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        // Only calls a forked child of a threaded process may make.
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        char byte = 0;
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) < 0 || recv(fd, &byte, 1, 0) != 1 ||
            read(go[0], &byte, 1) != 1) {
            _exit(1);
        }
        const char taken = send(fd, "C", 1, MSG_NOSIGNAL) == 1 ? 'T' : 'R';
        if (write(done[1], &taken, 1) != 1) _exit(2);
        _exit(recv(fd, &byte, 1, 0) == 1 && byte == 'K' ? 10 : 11);
    }
    close(go[0]);
    close(done[1]);
    pipes[0] = go[1];
    pipes[1] = done[0];
    return pid;
}

// A close from the window manager settles the hand-overs on the socket first: one whose
// confirmation the socket took, still unread, joins the list before the window goes.
void MainWindowTest::aConfirmationTheSocketTookJoinsTheListBeforeAClose() {
    signal(SIGCHLD, SIG_DFL);
    QVERIFY(!TestLock().empty());
    form_->Show();
    int pipes[2] = {-1, -1};
    const pid_t sender = StartManualSender(TestLock(), {"/tmp/h"}, pipes);
    QTRY_COMPARE(form_->form().handOver().Held(), std::size_t{1});
    // No event runs from here to the close: the confirmation waits unread.
    char taken = 0;
    QCOMPARE(write(pipes[0], "g", 1), 1);
    QCOMPARE(read(pipes[1], &taken, 1), 1);
    QCOMPARE(taken, 'T');
    QVERIFY(window().windowHandle()->close());
    QCOMPARE(rows(), Rows{"/tmp/h"});
    int status = 0;
    waitpid(sender, &status, 0);
    close(pipes[0]);
    close(pipes[1]);
    QCOMPARE(WEXITSTATUS(status), 10);
}

// The program reaps the archivers it started, and nothing else: a child that
// other code in the process starts is waited for as usual.
void MainWindowTest::otherChildrenAreWaitedForAsUsual() {
    std::vector<std::pair<long long, bool>> ended;
    system_->OnArchiverEnded(
        [&](long long process, ArchiverEnd end) { ended.emplace_back(process, end.succeeded); });
    const Launched slow = system_->Launch("/bin/sleep", "0.3", "");
    const Launched failing = system_->Launch("/bin/false", "x", "");
    QVERIFY(slow.started && slow.process > 0);
    QVERIFY(failing.started && failing.process > 0);
    QCOMPARE(QProcess::execute(QStringLiteral("/bin/sh"),
                               {QStringLiteral("-c"), QStringLiteral("exit 7")}),
             7);
    struct sigaction now = {};
    sigaction(SIGCHLD, nullptr, &now);
    QCOMPARE(now.sa_flags & SA_NOCLDWAIT, 0);
    QTRY_COMPARE(ended.size(), std::size_t{2});
    const std::map<long long, bool> how(ended.begin(), ended.end());
    QCOMPARE(how, (std::map<long long, bool>{{slow.process, true}, {failing.process, false}}));
}

void MainWindowTest::followsTheInputTable_data() {
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < testing::kInputCases.size(); ++i) {
        QTest::newRow(testing::kInputCases[i].name) << static_cast<int>(i);
    }
}

// A name of the table as a path here.
std::string PathOf(const std::string& name) { return "/tmp/conformance/" + name; }

// Runs the window's events until `done`, for a later start's answer.
template <typename Done>
bool Await(Done done) {
    QDeadlineTimer deadline(10000);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A later start's offer, sent from here while the window's events run, as from another process.
void MainWindowTest::offer(const Rows& paths) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    QVERIFY(fd >= 0);
    senders_.push_back(fd);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    posix::HandOverSocketPath(TestLock()).copy(address.sun_path, sizeof address.sun_path - 1);
    QCOMPARE(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const std::string frame = posix::EncodeHandOver(paths);
    std::size_t sent = 0;
    char answer = 0;
    QVERIFY(Await([&] {
        if (sent < frame.size()) {
            const ssize_t n = send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
            if (n > 0) sent += static_cast<std::size_t>(n);
        }
        const ssize_t n = recv(fd, &answer, 1, 0);
        return n >= 0 || errno != EAGAIN;
    }));
    answers_.push_back(answer == 'Y' ? testing::kHeld : testing::kRefused);
    if (answer == 'Y') held_.push_back(fd);
}

// Whether the socket takes the confirmation decides; the copy's last byte only informs.
void MainWindowTest::confirm(bool settle) {
    QVERIFY(!held_.empty());
    const int fd = held_.front();
    held_.pop_front();
    answers_.push_back(send(fd, "C", 1, MSG_NOSIGNAL) == 1 ? testing::kKept : testing::kNotKept);
    char last = 0;
    if (settle) QVERIFY(Await([&] { return recv(fd, &last, 1, 0) >= 0 || errno != EAGAIN; }));
}

void MainWindowTest::perform(const testing::Step& step, bool settle) {
    using testing::Act;
    QByteArray uris;
    Rows paths;
    for (const std::string& name : step.names) {
        paths.push_back(PathOf(name));
        uris += "file://" + QByteArray::fromStdString(paths.back()) + "\r\n";
    }
    switch (step.act) {
        case Act::Drop:
            QVERIFY(drop(uris));
            break;
        case Act::CopyFiles:
            QApplication::clipboard()->setMimeData(UriList(uris));
            break;
        case Act::CopyText:
            QApplication::clipboard()->setText(QString::fromStdString(step.names[0]));
            break;
        case Act::Press: {
            // The Qt key of a key code: letters are their characters in both.
            int key = step.key;
            if (key >= keycode::kF1 && key < keycode::kF1 + 24)
                key = Qt::Key_F1 + (key - keycode::kF1);
            if (key == keycode::kDelete) key = Qt::Key_Delete;
            if (key == keycode::kInsert) key = Qt::Key_Insert;
            Qt::KeyboardModifiers held;
            held.setFlag(Qt::ShiftModifier, step.shift & kShift);
            held.setFlag(Qt::ControlModifier, step.shift & kCtrl);
            held.setFlag(Qt::AltModifier, step.shift & kAlt);
            QVERIFY(focusOn(control(step.focus)));
            QTest::keyClick(control(step.focus), static_cast<Qt::Key>(key), held);
            break;
        }
        case Act::Select:
            form_->ListSelect(step.row);
            break;
        case Act::CloseBox:
            window().close();
            break;
        case Act::Offer:
            offer(paths);
            break;
        case Act::Confirm:
            confirm(settle);
            break;
    }
    if (settle) QCoreApplication::processEvents();
}

void MainWindowTest::followsTheInputTable() {
    QFETCH(int, index);
    const testing::InputCase& c = testing::kInputCases[static_cast<std::size_t>(index)];
    QVERIFY(!TestLock().empty());
    form_->Show();
    std::function<void()> whileOpen;
    system_->onMessage = [&](const Message&) {
        if (auto run = std::exchange(whileOpen, nullptr)) run();
    };
    QVERIFY2(RunSteps(
                 c, [this](const testing::Step& step, bool settle) { perform(step, settle); },
                 whileOpen),
             "no message opened for what was to happen while one is open");
    system_->onMessage = nullptr;
    QStringList messages;
    for (const Message& m : system_->messages) messages << QString::fromStdString(m.prompt);
    QStringList expected;
    for (const std::string& prompt : c.messages) expected << QString::fromStdString(prompt);
    QCOMPARE(testing::NamesOf(rows()), c.rows);
    QCOMPARE(messages, expected);
    QCOMPARE(testing::NamesOf(system_->launched), c.launched);
    QCOMPARE(form_->form().Loaded() && window().isVisible(), c.open);
    QCOMPARE(answers_, c.answers);
}

}  // namespace
}  // namespace doredaviro

QTEST_MAIN(doredaviro::MainWindowTest)
#include "main_window_test.moc"
