// The dispatcher of the main window and the commands it carries out.
#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFileDialog>
#include <QScreen>
#include <cerrno>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/sequencer.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/shell/comparison.h"
#include "kestrel/shell/config_pages.h"
#include "kestrel/shell/graph_windows.h"
#include "kestrel/shell/mail_dialog.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "kestrel/shell/qt_host.h"
#include "kestrel/shell/settings_windows.h"
#include "kestrel/shell/shell_rules.h"
#include "kestrel/shell/tab_frame.h"
#include "platform/msgbox.h"
#include "platform/whole_file.h"
#include "shared/gdi/font.h"
#include "shared/gdi/font_dialog.h"
#include "shared/ui/help.h"
#include "shared/ui/print_job.h"

namespace {

void FileBox(const char* text) { kp::MessageBox(kp::Owner::Main, text, "File Exception", kp::Icon::Exclamation); }

}  // namespace

bool MainWindow::Holds(int id) const {
    if ((run.testrunning != 0 && id != CMD_STOP) || loading_) return true;
    // A handed file waits for the start-up and for whatever is under way: a command (its boxes
    // and dialogs included), any other open box or dialog, a print taking events.
    return id == kHeldOpen &&
           (!startup_done_ || busy_ > 0 || QApplication::activeModalWidget() != nullptr || PrintJobRunning());
}

MainWindow::Busy::Busy(MainWindow& window) : window_(window) { ++window_.busy_; }

MainWindow::Busy::~Busy() {
    // What waited for it comes now.
    if (--window_.busy_ == 0) window_.ReleaseHeldCommands();
}

void MainWindow::Dispatch(int id) {
    const Busy busy(*this);
    if (id == kHeldClose) {
        close();
    } else if (id == kHeldOpen) {
        OpenHandedFile();
    } else if (id == kHeldComparison) {
        if (held_rows_.empty()) return;
        const int row = held_rows_.front();
        held_rows_.erase(held_rows_.begin());
        OpenComparison(row);
    } else {
        Command(id);
    }
}

void MainWindow::PostCommand(int id) {
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            if (Holds(id)) held_commands_.push_back(id);
            else Dispatch(id);
        },
        Qt::QueuedConnection);
}

void MainWindow::ReleaseHeldCommands() {
    if (held_commands_.empty() || release_posted_) return;
    release_posted_ = true;
    // One at a time: the next comes once the one before has returned, its boxes, dialogs and
    // loads included. A run or load that one starts holds the rest until its own end.
    QMetaObject::invokeMethod(
        this,
        [this] {
            release_posted_ = false;
            if (held_commands_.empty() || Holds(held_commands_.front())) return;
            const int id = held_commands_.front();
            held_commands_.erase(held_commands_.begin());
            Dispatch(id);
            ReleaseHeldCommands();
        },
        Qt::QueuedConnection);
}

void MainWindow::Command(int id) {
    if (loading_) {
        held_commands_.push_back(id);
        return;
    }
    const Busy busy(*this);
    switch (id) {
        case CMD_STOP: StopTesting(); break;
        case CMD_ALL_TESTS:
        case CMD_CPU_TEST:
        case CMD_MEMORY_TEST:
        case CMD_DISK_TEST:
        case CMD_VIDEO_TEST: ChooseTest(id); break;
        case CMD_SCALING: ToggleScaling(); break;
        case CMD_NEW_TEST: NewTest(); break;
        case CMD_OPEN: OpenFile(); break;
        case CMD_SAVE:
        case CMD_SAVE_AS: SaveFile(); break;
        case CMD_CLOSE: CloseFile(); break;
        case CMD_COPY_ALL: CopyAll(); break;
        case CMD_FONT: ChooseFont(); break;
        case CMD_EXIT: Exit(); break;
        case CMD_LAUNCH_GLANCE: host_->RunGlance(); break;
        case CMD_HELP_INDEX: ShowHelpIndex(); break;
        case CMD_USING_HELP: ShowHelpOnHelp(); break;
        case CMD_ABOUT: About(); break;
        case CMD_CONFIGURATION:
            CloseListBox();
            OpenTabFrame(kConfigurationFrame, MakeConfigurationPages); break;
        case CMD_PREFERENCES:
            CloseListBox();
            OpenTabFrame(kPreferencesFrame, [this](TabFrame& frame) { return MakePreferencesPages(*this, frame); });
            break;
        case CMD_MAIL: MailDialog::Open(*this); break;
        case CMD_PRINT: PrintReport(); break;
        case CMD_PRINTER_SETUP: PrinterSetup(); break;
        case CMD_RESULT_COMPARISONS: ResultComparisons(); break;
        default:
            if (id >= CMD_FIRST_DRIVE && id <= CMD_LAST_DRIVE) ToggleDrive(id);
            break;
    }
    report_->viewport()->update();
    emit commandRan(id);
}

void MainWindow::ChooseTest(int id) {
    const uint32_t value = id == CMD_ALL_TESTS ? 0 : SelectTest(run.TestValue, id);
    const TestSelection s = SelectionOf(value);
    run.TestValue = value;
    run.CPU_TEST_CHECKED = s.cpu;
    run.MEMORY_TEST_CHECKED = s.memory;
    run.DISK_TEST_CHECKED = s.disk;
    run.VIDEO_TEST_CHECKED = s.video;
    // All tests: only "Run All Tests" is checked, although every flag is set.
    Action(CMD_ALL_TESTS)->setChecked(value == 0);
    Action(CMD_CPU_TEST)->setChecked(value != 0 && s.cpu);
    Action(CMD_MEMORY_TEST)->setChecked(value != 0 && s.memory);
    Action(CMD_DISK_TEST)->setChecked(value != 0 && s.disk);
    Action(CMD_VIDEO_TEST)->setChecked(value != 0 && s.video);
}

void MainWindow::ToggleDrive(int id) {
    QAction* a = Action(id);
    if (a == nullptr) return;
    const size_t k = size_t(id - CMD_FIRST_DRIVE);
    const std::string& root = drivemenu.globaldrivechar[k];
    if (!a->isChecked()) {
        a->setChecked(true);
        drivemenu.DRIVECHOSEN[k] = 1;
        status_->SetText(QString::asprintf("Check this item  to choose drive %s.", root.c_str()));
    } else {
        a->setChecked(false);
        drivemenu.DRIVECHOSEN[k] = 0;
        status_->SetText(QString::asprintf("Uncheck this item to un-choose drive %s.", root.c_str()));
    }
}

void MainWindow::ToggleScaling() {
    if (run.CPU_TEST_CHECKED == 0) {
        kp::MessageBox(kp::Owner::Main, "Check menu items: 'Run All Tests', or 'Run CPU Test' before checking this item",
                       "Menu Exception", kp::Icon::Exclamation);
        return;
    }
    QAction* a = Action(CMD_SCALING);
    const bool on = !a->isChecked();
    a->setChecked(on);
    run.IDM_SCALING_CHECKED = on ? 1 : 0;
    results.scaling_efficiency_showing = on ? 1 : 0;
    // Checked on a machine of three or more processors: the scaling steps are chosen now.
    if (on && run.real_num_processors >= 3) OpenScalingDialog(*this, this);
}

bool MainWindow::AskToSave(const char* caption) {
    host_->Beep();
    return kp::MessageBox(kp::Owner::Main, "Do you want to save this test?", caption, kp::Icon::Question,
                          kp::Buttons::YesNo) == kp::Answer::Yes;
}

void MainWindow::NewTest() {
    // A run that the user wants saved but that was not saved is kept: no new run.
    if (report.isnew == 1) CloseGraphWindows();
    if (report.isnew == 1 && AskToSave("File Exception") && !SaveFile()) return;
    if (run.ending != 0) return;  // asked to end while the question was open
    if (report.theFile >= 0 || theFile2 >= 0) {
        CloseReportFile();
        if (theFile2 >= 0) ::close(theFile2);
        theFile2 = -1;
        report.CurrentFile = oldfile_;
        SetDefaults();
    }
    results.data_from_file = 0;
    report.isnew = 1;
    const int stored = GetRegEntry();
    if (stored == 5 || stored == 1) prefs.valuelongtest = 0;
    run.tpriority = 1;
    // The list and the graphs show the store that is reset now; the window gets its size back.
    CloseListBox();
    CloseGraphWindows();
    host_->CloseProgress();
    CloseTabFrame();
    ClearReportLines();
    report.CurrentFile = oldfile_;
    report_->SetCaption(QString::fromStdString(oldfile_));
    Enable({CMD_SAVE, CMD_SAVE_AS, CMD_PRINT, CMD_MAIL, CMD_COPY_ALL, CMD_FONT}, true);
    Enable({CMD_CLOSE}, false);
    StartTesting();
    // Stopped to end the program: it ends now that the run is over.
    if (end_after_run_) StoreAndEnd();
}

std::optional<std::string> MainWindow::ChooseFile(bool save) {
    QFileDialog dialog(this, save ? QStringLiteral("Save a Benchmark File") : QStringLiteral("Open a Benchmark File"));
    // Qt's own dialog, whose chosen filter can be followed.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters({QString::fromLatin1(kBenchmarkFilter), QString::fromLatin1(kAllFilesFilter)});
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The overwrite question is the program's own.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (save) {
        // A name typed without an extension gets that of the chosen filter (".BMF" under
        // "Benchmark Files", so that Open shows the file; nothing under "ALL FILES").
        const auto follow = [&dialog](const QString& filter) {
            dialog.setDefaultSuffix(QString::fromStdString(FilterExtension(filter.toStdString())));
        };
        follow(dialog.selectedNameFilter());
        connect(&dialog, &QFileDialog::filterSelected, &dialog, follow);
    }
    if (!prefs.files_directory.empty()) dialog.setDirectory(QString::fromStdString(prefs.files_directory));
    const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    filetest = chosen ? 1 : 0;
    if (!chosen) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

void MainWindow::LoadFile() {
    CloseGraphWindows();
    if (report.theFile >= 0) Command(CMD_CLOSE);
    // The windows take input during a long read: what the user asks for meanwhile comes after
    // the load and its boxes.
    loading_ = true;
    const bool loaded = OpenLineFile() == 0;
    loading_ = false;
    if (loaded) Enable({CMD_COPY_ALL, CMD_FONT}, true);
    // Asked to end during the read: it ends now that the file is no longer read.
    if (end_after_load_) {
        end_after_load_ = false;
        EndWithoutQuestions();
    }
}

bool MainWindow::MayOpen() {
    if (report.isnew == 1) CloseGraphWindows();
    if (report.isnew == 1 && AskToSave("File Exception")) {
        Command(CMD_SAVE_AS);
        return false;
    }
    return run.ending == 0;
}

void MainWindow::OpenFile() {
    if (!MayOpen()) return;
    const std::optional<std::string> name = ChooseFile(false);
    if (!name || run.ending != 0) return;
    report.FileName = *name;
    LoadFile();
}

void MainWindow::OpenFromOtherStart(const std::string& path) {
    handed_files_.push_back(path);
    PostCommand(kHeldOpen);
}

void MainWindow::OpenHandedFile() {
    if (handed_files_.empty()) return;
    const std::string path = handed_files_.front();
    handed_files_.erase(handed_files_.begin());
    if (ending_ || run.ending != 0 || !MayOpen()) return;
    report.FileName = path;
    LoadFile();
    report_->viewport()->update();
}

void MainWindow::DropFile(const std::string& path) {
    // Not taken during a run, nor while a file is being read.
    if (run.testrunning != 0 || LoadingReportFile() || path.empty()) return;
    const Busy busy(*this);
    report.FileName = path;
    if (report.isnew == 1 && AskToSave("File Exception")) {
        Command(CMD_SAVE_AS);
        return;
    }
    if (run.ending != 0) return;
    LoadFile();
}

bool MainWindow::SaveFile() {
    if (report.num == 0) {
        FileBox("No benchmark data.");
        return false;
    }
    const std::optional<std::string> name = ChooseFile(true);
    if (!name) return false;
    FileName2 = *name;
    // The report goes to a new file beside the name and takes the name only when all of it was
    // written: a failure (a full disk) leaves a file of that name as it was, and no part of the
    // report behind. The run counts as saved only then.
    const auto write = [](int fd) { return kp::WriteCrLfLines(fd, report.szGreeting); };
    int fd = -1;
    kp::WholeFile written = kp::WriteWholeFile(FileName2, false, write, &fd);
    if (written == kp::WholeFile::Exists) {
        if (kp::MessageBox(kp::Owner::Main, "File Already Exists!  Overwrite?", "File Exception", kp::Icon::Question,
                           kp::Buttons::YesNo) != kp::Answer::Yes) {
            return false;
        }
        written = kp::WriteWholeFile(FileName2, true, write, &fd);
    }
    if (theFile2 >= 0) ::close(theFile2);
    theFile2 = -1;
    if (written == kp::WholeFile::Exists || written == kp::WholeFile::CannotCreate) {
        FileBox("Error Writing file!");
        return false;
    }
    CloseReportFile();
    if (written != kp::WholeFile::Written) {
        FileBox("Error writing data to the file");
        return false;
    }
    theFile2 = fd;
    report.isnew = 0;
    report.CurrentFile = FileName2;
    report_->SetCaption(QString::fromStdString(FileName2));
    Enable({CMD_SAVE}, false);
    Enable({CMD_CLOSE}, true);
    return true;
}

void MainWindow::CloseFile() {
    CloseGraphWindows();
    if (report.theFile < 0 && theFile2 < 0) {
        FileBox("No opened file handles.");
        return;
    }
    SetDefaults();
    CloseReportFile();
    if (theFile2 >= 0) ::close(theFile2);
    theFile2 = -1;
    report.CurrentFile = oldfile_;
    ClearReportLines();
    report_->SetCaption(QString::fromStdString(oldfile_));
    Enable({CMD_SAVE, CMD_SAVE_AS, CMD_PRINT, CMD_MAIL, CMD_CLOSE, CMD_COPY_ALL, CMD_FONT}, false);
}

void MainWindow::CopyAll() {
    std::string text;
    for (const std::string& line : report.szGreeting) text += line + "\r\n";
    QGuiApplication::clipboard()->setText(QString::fromUtf8(text.c_str()));
}

void MainWindow::ChooseFont() {
    const std::optional<LogFont> chosen = ChooseFontRecord(prefs.GlobalLogFont, report_->ReportFont(), report_);
    if (!chosen) return;
    prefs.GlobalLogFont = *chosen;
    report_->ApplyFont();
    update();
    if (SpecificView* view = ComparisonView()) {
        view->Measure();
        view->viewport()->update();
    }
    CreateRegEntry();
}

bool MainWindow::MayEnd() {
    if (report.isnew != 1) return true;
    CloseGraphWindows();
    if (!AskToSave("File Exeption") || SaveFile()) return true;
    return kp::MessageBox(kp::Owner::Main, "Exit Kestrel anyway?", "Kestrel", kp::Icon::Question, kp::Buttons::YesNo) ==
           kp::Answer::Yes;
}

void MainWindow::Exit() {
    if (MayEnd()) StoreAndEnd();
}

bool MainWindow::EndOfSession(bool may_ask) {
    if (may_ask && !MayEnd()) return false;
    session_agreed_ = true;
    return true;
}

bool MainWindow::QuitAsked() {
    // The program's own quit (Exit, the close box), or a quit the desktop did not ask about
    // first: the windows close as their close boxes do.
    if (ending_ || !session_agreed_) return false;
    EndWithoutQuestions();
    return true;
}

void MainWindow::EndWithoutQuestions() {
    if (ending_ || end_after_run_ || end_after_load_) return;
    answer_without_asking_ = true;
    run.ending = 1;
    // A print that runs stops as its Cancel stops it (one waiting for a pipe's reader too).
    StopPrintJobs();
    // The code that waits on an open box or dialog goes on.
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(top);
        if (dialog != nullptr && dialog->isVisible() && dialog->isModal()) dialog->reject();
    }
    // The file being read stays open until its read is over: the end comes after the load.
    if (loading_) {
        end_after_load_ = true;
        return;
    }
    if (run.testrunning != 0) {
        end_after_run_ = true;
        StopTesting();
        return;
    }
    // Before the window has its place there is no placement to store.
    if (!startup_done_) {
        EndProgram();
        return;
    }
    StoreAndEnd();
}

void MainWindow::StoreAndEnd() {
    CloseReportFile();
    if (theFile2 >= 0) ::close(theFile2);
    theFile2 = -1;
    // Left and top, the width in "right" and the height in "bottom"; a maximised window is
    // stored as the whole screen, so that it opens maximised again.
    WindowRect& r = prefs.main_window_rect;
    if (window_expanded_) {
        r = WindowRect{old_geometry_.x(), old_geometry_.width(), old_geometry_.y(), old_geometry_.height()};
    } else if (isMaximized()) {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        r = WindowRect{0, screen.width(), 0, screen.height()};
    } else {
        r = WindowRect{geometry().x(), geometry().width(), geometry().y(), geometry().height()};
    }
    CreateRegEntry();
    if (prefs.show_perf_data != 0 && run.testrunning != 0) DoDiskEndCheck();
    EndProgram();
}

TabFrame* MainWindow::TabWindow() const { return tabs_ && !tabs_->Closing() ? tabs_.data() : nullptr; }

void MainWindow::CloseTabFrame() {
    if (TabFrame* frame = TabWindow()) frame->Close();
}

TabFrame* MainWindow::OpenTabFrame(int kind, const std::function<std::vector<QWidget*>(TabFrame&)>& make_pages) {
    if (TabFrame* open = TabWindow(); open != nullptr && open->Kind() == kind) {
        open->raise();
        return open;
    }
    CloseTabFrame();
    tabs_ = new TabFrame(kind, report_, make_pages);
    connect(tabs_, &TabFrame::closed, this, [this] { update(); });
    return tabs_;
}

void MainWindow::About() {
    if (about_) {
        about_->raise();
        return;
    }
    about_ = new OpeningWindow(1, this);
    about_->setWindowTitle(QStringLiteral("About Kestrel version 1.21"));
    about_->show();
}
