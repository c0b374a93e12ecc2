#include "shared/ui/print_job.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPushButton>
#include <QTemporaryFile>
#include <QVBoxLayout>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/msgbox.h"
#include "shared/gdi/font.h"

PrintState print_state;

namespace {

int g_running_jobs = 0;

std::function<void()>& JobsEnded() {
    static std::function<void()> call;
    return call;
}

PrinterChooser& Chooser() {
    static PrinterChooser chooser;
    return chooser;
}

SpoolerAnswerSource& AnswerSource() {
    static SpoolerAnswerSource source;
    return source;
}

std::optional<kp::SpoolerAnswer> SpoolerAnswer() {
    return AnswerSource() ? AnswerSource()() : kp::LastSpoolerAnswer();
}

std::string& StandInPrinter() {
    static std::string printer;
    return printer;
}

// The printer of the printer system that a job on `printer` goes to; nothing for a file.
std::optional<std::string> SpoolerPrinter(const QPrinter& printer) {
    if (!StandInPrinter().empty()) return StandInPrinter();
    if (printer.outputFileName().isEmpty() && printer.outputFormat() == QPrinter::NativeFormat) {
        return printer.printerName().toStdString();
    }
    return std::nullopt;
}

// The folder of the file printed to last (empty before the first).
QString& ChosenFolder() {
    static QString folder;
    return folder;
}

// The file that the print dialog offers to print to (empty: the dialog's own choice).
QString& OfferedFile() {
    static QString file;
    return file;
}

// The document ("<base name>.pdf") the printer was chosen for last; empty for Printer setup.
QString& ChosenFor() {
    static QString name;
    return name;
}

// Notes the folder of a file printed to (a printer of the printer system has no file).
void NoteChosenFolder(const QPrinter& printer) {
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
        ChosenFolder() = QFileInfo(printer.outputFileName()).absolutePath();
    }
}

// The file offered for a document is its base name with ".pdf" (the job's name too: the last
// job's, "Print File - " and a whole path, would name a folder that is not there), never a name
// chosen for another document, in the folder chosen last while it can be written, else in the
// home folder. The printer
// object gets the offered file only when it prints to a file: a file name would turn a printer of
// the printer system into a file.
void OfferFileName(QPrinter& printer, const std::string& document) {
    NoteChosenFolder(printer);
    const QString base = QFileInfo(QString::fromStdString(document)).completeBaseName();
    const QString name = base.isEmpty() ? QString() : base + QStringLiteral(".pdf");
    printer.setDocName(name);
    const bool to_file = printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty();
    // Without a document, and for the first print after a file chosen in Printer setup (for no
    // document), the file chosen last stays.
    if (name.isEmpty() || (to_file && ChosenFor().isEmpty())) {
        OfferedFile() = to_file ? printer.outputFileName() : QString();
        return;
    }
    // Before any file was chosen, the dialog makes its own offer from the job's name.
    if (ChosenFolder().isEmpty()) {
        OfferedFile().clear();
        return;
    }
    const QFileInfo folder(ChosenFolder());
    const QString dir = folder.isDir() && folder.isWritable() ? ChosenFolder() : QDir::homePath();
    OfferedFile() = QDir(dir).filePath(name);
    if (to_file) printer.setOutputFileName(OfferedFile());
}

// The printer object goes before the application: its print engine needs the platform.
void DropPrinter() { print_state.pd.reset(); }

// Only a regular file is read back or removed: a device or a pipe named as the output stays, and
// what it took is gone (a pipe opened to be read would wait, with no end, for a writer).
bool RegularFile(const QString& name) { return QFileInfo(name).isFile(); }

void RemovePrintFile(const QString& name) {
    if (RegularFile(name)) QFile::remove(name);
}

// A PDF file is whole when it ends with its end-of-file mark after the offset of its cross-reference
// table, and that table stands at that offset: a file cut short, or one with a part missing in the
// middle, is not.
bool PdfWrittenWhole(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const qint64 size = file.size();
    if (size <= 0) return false;
    const qint64 tail_size = std::min<qint64>(size, 64);
    if (!file.seek(size - tail_size)) return false;
    const QByteArray tail = file.read(tail_size).trimmed();
    if (!tail.endsWith("%%EOF")) return false;
    const qsizetype mark = tail.lastIndexOf("startxref");
    if (mark < 0) return false;
    bool number = false;
    const qint64 xref = tail.mid(mark + 9, tail.size() - 5 - (mark + 9)).trimmed().toLongLong(&number);
    if (!number || xref < 0 || xref >= size || !file.seek(xref)) return false;
    return file.read(4) == "xref";
}

// A write that failed leaves Qt's PDF engine writing nothing for the rest of the program (its
// stream stays failed), so the printer object is made anew with the old one's settings.
void RenewPrinter() {
    const QPrinter& old = *print_state.pd;
    auto fresh = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (old.outputFormat() == QPrinter::NativeFormat) fresh->setPrinterName(old.printerName());
    fresh->setOutputFileName(old.outputFileName());
    fresh->setOutputFormat(old.outputFormat());
    fresh->setResolution(old.resolution());
    fresh->setPageLayout(old.pageLayout());
    fresh->setFullPage(old.fullPage());
    fresh->setCopyCount(old.copyCount());
    fresh->setCollateCopies(old.collateCopies());
    fresh->setColorMode(old.colorMode());
    fresh->setDuplex(old.duplex());
    fresh->setPageOrder(old.pageOrder());
    fresh->setPaperSource(old.paperSource());
    fresh->setFontEmbeddingEnabled(old.fontEmbeddingEnabled());
    fresh->setPdfVersion(old.pdfVersion());
    fresh->setPrintRange(old.printRange());
    fresh->setPageRanges(old.pageRanges());
    fresh->setDocName(old.docName());
    fresh->setCreator(old.creator());
    print_state.pd = std::move(fresh);
}

// A pipe, a device or a socket: a name that exists and is neither a regular file nor a folder.
bool StreamNamed(const QString& name) {
    struct stat st {};
    return !name.isEmpty() && ::stat(QFile::encodeName(name).constData(), &st) == 0 && !S_ISREG(st.st_mode) &&
           !S_ISDIR(st.st_mode);
}

// The print dialog's own check of the file to print to opens it to append: a pipe so opened and
// closed gives its reader an end before the document comes, and with no reader the open waits for
// one without end. A pipe or a device is asked about as a file is, without being opened (its
// rights are checked instead); the dialog's other checks follow as before. A regular file keeps
// the dialog's own check.
void CheckStreamsUnopened(QPrintDialog& dialog) {
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QString(), Qt::FindDirectChildrenOnly);
    auto* filename = dialog.findChild<QLineEdit*>(QStringLiteral("filename"));
    if (buttons == nullptr || filename == nullptr) return;
    if (!QObject::disconnect(buttons, SIGNAL(accepted()), &dialog, SLOT(_q_checkFields()))) return;
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&dialog, filename] {
        const QString text = filename->text();
        const QString path = QDir::isRelativePath(text) ? QDir::homePath() + QLatin1Char('/') + text : text;
        const bool stream = filename->isEnabled() && StreamNamed(path);
        if (stream) {
            if (::access(QFile::encodeName(path).constData(), W_OK) != 0) {
                QMessageBox::warning(&dialog, dialog.windowTitle(),
                                     QPrintDialog::tr("File %1 is not writable.\nPlease choose a different file name.").arg(text));
                return;
            }
            const auto answer = QMessageBox::question(
                &dialog, dialog.windowTitle(),
                QPrintDialog::tr("%1 already exists.\nDo you want to overwrite it?").arg(text),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
            if (answer != QMessageBox::Yes) return;
            // The dialog's own check passes over a file field that is not enabled.
            filename->setEnabled(false);
        }
        QMetaObject::invokeMethod(&dialog, "_q_checkFields", Qt::DirectConnection);
        if (stream) filename->setEnabled(true);
    });
}

// Puts the dialog, once shown (its "Print to File (PDF)" entry is added then), on the printer
// chosen last, with the offered file in its file field.
class StartOnChoice : public QObject {
public:
    StartOnChoice(QPrintDialog& dialog, bool to_file, QString file) : dialog_(dialog), to_file_(to_file), file_(std::move(file)) {
        dialog.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &dialog_ && event->type() == QEvent::Show && !done_) {
            done_ = true;
            auto* printers = dialog_.findChild<QComboBox*>(QStringLiteral("printers"));
            auto* filename = dialog_.findChild<QLineEdit*>(QStringLiteral("filename"));
            if (to_file_ && printers != nullptr && printers->count() > 0) printers->setCurrentIndex(printers->count() - 1);
            if (filename != nullptr && !file_.isEmpty()) filename->setText(file_);
        }
        return false;
    }

private:
    QPrintDialog& dialog_;
    bool to_file_;
    QString file_;
    bool done_ = false;
};

bool RunDialog(QPrinter& printer, PrinterDialog kind, QWidget* owner) {
    // The dialog, as it is made, moves the printer object to the printer system's default printer
    // when a file was chosen last: the choice is kept here, shown once the dialog is up, and put
    // back when the dialog is cancelled.
    const bool to_file = printer.outputFormat() == QPrinter::PdfFormat;
    const QString printer_name = printer.printerName();
    const QString file = printer.outputFileName();
    QPrintDialog dialog(&printer, owner);
    // No selection and no page numbers; the PDF printer stays available (on a machine without
    // printers it is the only one).
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize |
                      QAbstractPrintDialog::PrintCollateCopies);
    if (kind == PrinterDialog::Setup) {
        dialog.setWindowTitle(QStringLiteral("Print Setup"));
        if (auto* box = dialog.findChild<QDialogButtonBox*>()) {
            if (QPushButton* ok = box->button(QDialogButtonBox::Ok)) ok->setText(QStringLiteral("OK"));
        }
    }
    CheckStreamsUnopened(dialog);
    StartOnChoice start(dialog, to_file, OfferedFile());
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (!accepted) {
        if (to_file) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(file);
        } else {
            printer.setOutputFormat(QPrinter::NativeFormat);
            printer.setPrinterName(printer_name);
        }
    }
    return accepted;
}

// The longest a pipe or a device may take no byte of the document before the print gives up.
int& StallLimitMs() {
    static int limit = 30000;
    return limit;
}

// Jobs whose document is being handed to a pipe or a device (the printer object is free then).
int g_sending = 0;
// Set when the program ends (StopPrintJobs) until the next job starts with none running.
bool g_stop_all = false;

// Hands the document in `from` to the pipe or device `to`: opened once, without waiting for a
// reader, and written without blocking; meanwhile the events are handled (all of them with an
// abort dialog, whose Cancel stops it, else all but input), and SIGPIPE is held back, so that a
// reader that goes away shows as EPIPE. Answers the reason it was not handed over whole, to show
// on the box's second line; empty when it was, or when it was stopped.
std::string SendToStream(const QString& from, const QString& to, bool abort_dialog) {
    if (g_stop_all) return {};
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) return "The document could not be read back.";
    const QByteArray bytes = in.readAll();
    in.close();
    const int fd = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENXIO) return "Nothing reads from it.";
        return std::strerror(error);
    }
    ++g_sending;
    sigset_t pipe_signal, before;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
    std::string reason;
    qsizetype done = 0;
    QElapsedTimer idle;
    idle.start();
    // A cancelled job hands over the pages made before its Cancel; a Cancel now, or the program's
    // end, stops it.
    const int32_t cancelled = print_state.Abort;
    while (done < bytes.size() && print_state.Abort == cancelled && !g_stop_all) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(std::min<qsizetype>(bytes.size() - done, 65536)));
        if (n > 0) {
            done += n;
            idle.restart();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (idle.elapsed() >= StallLimitMs()) {
                const int seconds = std::max(1, StallLimitMs() / 1000);
                reason = "Nothing was read from it for " + std::to_string(seconds) + (seconds == 1 ? " second." : " seconds.");
                break;
            }
            pollfd ready{fd, POLLOUT, 0};
            ::poll(&ready, 1, 20);
            QCoreApplication::processEvents(abort_dialog ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
            continue;
        }
        const int error = n < 0 ? errno : EIO;
        if (error == EPIPE) {
            reason = "Its reader went away before the end of the document.";
            if (!sigismember(&before, SIGPIPE)) {
                const struct timespec none = {0, 0};
                while (sigtimedwait(&pipe_signal, nullptr, &none) > 0) {
                }
            }
        } else {
            reason = std::strerror(error);
        }
        break;
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ::close(fd);
    --g_sending;
    return reason;
}

}  // namespace

AbortDialog::AbortDialog(const std::string& current_file, QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("ABORTDLG"));
    setWindowTitle(QStringLiteral("Print File"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Sending File ..."), this));
    file_ = new QLineEdit(QString::fromStdString(current_file), this);
    file_->setObjectName(QStringLiteral("99"));
    file_->setReadOnly(true);
    file_->setFocusPolicy(Qt::NoFocus);
    file_->setMinimumWidth(file_->fontMetrics().averageCharWidth() * 40);
    file_->setCursorPosition(0);
    layout->addWidget(file_);
    layout->addWidget(new QLabel(QStringLiteral("Spooling Printer ..."), this));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("2"));
    layout->addWidget(cancel, 0, Qt::AlignHCenter);
    connect(cancel, &QPushButton::clicked, this, [this] { AbortDlgProc(); });
    cancel->setFocus();
}

QString AbortDialog::FileText() const { return file_->text(); }

void AbortDialog::closeEvent(QCloseEvent* event) { QWidget::closeEvent(event); }

void AbortDialog::AbortDlgProc() {
    print_state.Abort = 1;
    hide();
}

QPrinter& Printer() {
    if (!print_state.pd) {
        print_state.pd = std::make_unique<QPrinter>(QPrinter::HighResolution);
        qAddPostRoutine(DropPrinter);
    }
    return *print_state.pd;
}

void SetPrinterChooser(PrinterChooser chooser) { Chooser() = std::move(chooser); }

bool ChoosePrinter(PrinterDialog kind, QWidget* owner, const std::string& document) {
    QPrinter& printer = Printer();
    OfferFileName(printer, document);
    const bool chosen = Chooser() ? Chooser()(printer, kind, owner) : RunDialog(printer, kind, owner);
    NoteChosenFolder(printer);
    if (chosen) ChosenFor() = printer.docName();
    return chosen;
}

bool AbortProc() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return print_state.Abort == 0;
}

QFont PrinterDefaultFont() { return QFont(); }

int DefaultTextHeight(QPaintDevice& device) {
    const QFontMetrics fm(PrinterDefaultFont(), &device);
    return fm.height() + fm.leading();
}

QFont PrinterFont(const LogFont& lf, float scale, const QFont& screen_font) {
    LogFont scaled = lf;
    scaled.Height = int32_t(std::trunc(double(lf.Height) * double(scale)));
    scaled.Width = int32_t(std::trunc(double(lf.Width) * double(scale)));
    QFont fallback = screen_font;
    fallback.setPixelSize(std::max(1, int(std::trunc(QFontInfo(screen_font).pixelSize() * double(scale)))));
    return FontFromLogFont(scaled, fallback);
}

void TabbedTextOut(QPainter& painter, int x, int y, const std::string& text) {
    // Tabs are placed here, in device pixels: Qt's text layout scales tab stops by the device's
    // resolution over the screen's.
    const QFontMetricsF fm(painter.font(), painter.device());
    const qreal tab = 8.0 * std::max<qreal>(1.0, fm.averageCharWidth());
    const qreal baseline = y + fm.ascent();
    qreal at = 0;
    size_t start = 0;
    while (true) {
        const size_t end = std::min(text.find('\t', start), text.size());
        const QString piece = QString::fromUtf8(text.data() + start, qsizetype(end - start));
        painter.drawText(QPointF(x + at, baseline), piece);
        if (end == text.size()) break;
        at = (std::floor((at + fm.horizontalAdvance(piece)) / tab) + 1) * tab;
        start = end + 1;
    }
}

void DrawPageHeader(QPainter& painter, const std::string& text) {
    painter.save();
    painter.setFont(PrinterDefaultFont());
    TabbedTextOut(painter, 10, print_state.LineNumber * print_state.TextHeight, text);
    painter.restore();
}

void PrinterAccessBox() {
    kp::MessageBox(kp::Owner::Main, "Unable to Access printer", "Printer Exception", kp::Icon::Stop);
}

void SetSpoolerAnswerSource(SpoolerAnswerSource source) { AnswerSource() = std::move(source); }

void SetStandInPrinter(std::string printer) { StandInPrinter() = std::move(printer); }

std::optional<std::string> RefusedJobText(const std::string& printer, const std::optional<kp::SpoolerAnswer>& answer) {
    if (!answer || !kp::SpoolerRefused(answer->status)) return std::nullopt;
    std::string text = "The document could not be sent to the printer " + printer + ".";
    if (!answer->text.empty()) text += "\n" + answer->text;
    return text;
}

PrintJob::PrintJob(const std::string& doc_name, const std::string& current_file, QWidget* owner, bool abort_dialog)
    : printer_(Printer()), owner_(owner) {
    print_state.Abort = 0;
    if (g_running_jobs == 0) g_stop_all = false;
    ++g_running_jobs;
    previous_ = print_state.hAbortDlgWnd;
    if (abort_dialog) print_state.hAbortDlgWnd = dialog_ = new AbortDialog(current_file, owner);
    printer_.setDocName(QString::fromStdString(doc_name));
    // While a document is handed to a pipe or a device, the printer is not free for another job.
    if (g_sending > 0) return;
    // A pipe or a device named as the output gets the whole document at the job's end: the
    // document is made in a file of its own first, so that the output is opened once, never
    // waited for, and a reader that goes away ends no more than the job.
    if (printer_.outputFormat() == QPrinter::PdfFormat && StreamNamed(printer_.outputFileName())) {
        auto staged = std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/kestrel-print-XXXXXX.pdf"));
        if (staged->open()) {
            output_ = printer_.outputFileName();
            printer_.setOutputFileName(staged->fileName());
            staged_ = std::move(staged);
        }
    }
    started_ = painter_.begin(&printer_);
    if (!started_ && staged_) {
        printer_.setOutputFileName(output_);
        staged_.reset();
    }
    if (!started_) return;
    if (dialog_) {
        dialog_->show();
        dialog_->raise();
    }
    if (owner_) owner_->setEnabled(false);
    // The abort dialog stays usable while its owner is disabled.
    if (dialog_) dialog_->setEnabled(true);
}

PrintJob::~PrintJob() { End(); }

void PrintJob::StartPage() {
    if (pages_++ > 0) printer_.newPage();
}

void PrintJob::End() {
    if (ended_) return;
    ended_ = true;
    QString unwritten;    // a file that could not be written whole
    std::string refused;  // the box for a job the printer system did not take
    bool renew = false;
    if (started_) {
        const QString file = printer_.outputFileName();
        // The name the document goes to (a pipe or a device, whose document was made in `file`).
        const QString output = staged_ ? output_ : file;
        if (print_state.Abort != 0) {
            // A cancelled job: the printer system drops it; a PDF file has no such way, so the
            // part written is removed.
            const bool dropped = printer_.abort();
            const bool ended = !painter_.isActive() || painter_.end();
            if (staged_) {
                printer_.setOutputFileName(output_);
                // What was printed before the Cancel goes to the pipe or device, as it would
                // have gone there directly.
                if (!dropped && ended && PdfWrittenWhole(file)) SendToStream(file, output_, !dialog_.isNull());
            }
            if (!dropped && !file.isEmpty()) {
                renew = !ended || (RegularFile(file) && !PdfWrittenWhole(file));
                RemovePrintFile(file);
            }
        } else {
            // A document printed to a file must be there whole: a write that failed (a full
            // disk) leaves a file cut short, which is removed and reported.
            const bool ended = painter_.end();
            if (staged_) printer_.setOutputFileName(output_);
            if (!file.isEmpty() && (!ended || (RegularFile(file) && !PdfWrittenWhole(file)))) {
                RemovePrintFile(file);
                unwritten = output;
                renew = true;
            } else if (staged_) {
                // The whole document goes to the pipe or device now, with the abort dialog up.
                const std::string reason = SendToStream(file, output_, !dialog_.isNull());
                if (!reason.empty()) {
                    refused = "The document could not be written to " + output_.toStdString() + ".\n" + reason;
                }
            }
            // A job for a printer goes to the printer system as the painter ends; it may refuse
            // it (a queue that takes no jobs, the system stopped) and then nothing is printed.
            if (const auto sent_to = SpoolerPrinter(printer_)) {
                if (auto text = RefusedJobText(*sent_to, SpoolerAnswer())) refused = *text;
            }
        }
    }
    if (owner_) owner_->setEnabled(true);
    if (dialog_) delete dialog_.data();
    if (print_state.hAbortDlgWnd.isNull()) print_state.hAbortDlgWnd = previous_;
    print_state.LineNumber = 0;
    print_state.PageNumber = 0;
    if (renew) RenewPrinter();
    staged_.reset();
    if (!unwritten.isEmpty()) refused = "The document could not be written to " + unwritten.toStdString() + ".";
    if (!refused.empty()) {
        // The box belongs to the window that printed: a graph window stands above the main
        // window, and a box of the main window's would open under it.
        if (owner_ && owner_->isVisible()) QApplication::setActiveWindow(owner_->window());
        kp::MessageBox(kp::Owner::Active, refused, "Printer Exception", kp::Icon::Stop);
    }
    if (--g_running_jobs == 0 && JobsEnded()) JobsEnded()();
}

void StopPrintJobs() {
    if (g_running_jobs == 0) return;
    print_state.Abort = 1;
    g_stop_all = true;
}

void SetOutputStallLimit(int ms) { StallLimitMs() = ms > 0 ? ms : 30000; }

bool PrintJobRunning() { return g_running_jobs > 0; }

void WhenPrintJobsEnd(std::function<void()> call) { JobsEnded() = std::move(call); }

bool PrintLines(PrintJob& job, const LinesToPrint& doc) {
    PrintState& s = print_state;
    QPrinter& printer = job.Device();
    QPainter& painter = job.Painter();
    s.LineNumber = 0;
    s.PageNumber = 1;
    s.TextHeight = DefaultTextHeight(printer);
    s.printscale = PrintScale(printer.width());
    s.LinesPerPage = LinesPerPage(printer.height(), doc.line_height, s.printscale);
    if (doc.lines == nullptr) return true;
    const std::vector<std::string>& lines = *doc.lines;
    PageCounters c{s.LineNumber, s.PageNumber};
    const auto start_page = [&](const LinePlacement& at) {
        job.StartPage();
        s.LineNumber = at.header_slot;
        s.PageNumber = at.page;
        DrawPageHeader(painter, PageHeaderText(HeaderStem(doc.header_name, std::time(nullptr)), at.page));
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        if (doc.cut_every_rest) {
            // Each piece is a line of its own.
            for (const std::string& piece : CutForPrint(BlankTabs(lines[i]), doc.maxchars)) {
                const LinePlacement at = PlaceLine(c, false, s.LinesPerPage);
                if (at.starts_page) start_page(at);
                painter.setFont(doc.font);
                TabbedTextOut(painter, 1, SlotY(at.first_slot, doc.line_height, s.printscale), piece);
            }
            s.LineNumber = c.LineNumber;
            s.PageNumber = c.PageNumber;
            if (doc.after_line && !doc.after_line(int(i))) return false;
            continue;
        }
        // The printed line is a copy: the report's own lines stay as they are.
        const PrintPieces pieces = SplitForPrint(BlankTabs(lines[i]), doc.maxchars);
        const LinePlacement at = PlaceLine(c, pieces.wrapped, s.LinesPerPage);
        if (at.starts_page) start_page(at);
        painter.setFont(doc.font);
        TabbedTextOut(painter, 1, SlotY(at.first_slot, doc.line_height, s.printscale), pieces.first);
        if (pieces.wrapped) TabbedTextOut(painter, 1, SlotY(at.rest_slot, doc.line_height, s.printscale), pieces.rest);
        s.LineNumber = c.LineNumber;
        s.PageNumber = c.PageNumber;
        if (doc.after_line && !doc.after_line(int(i))) return false;
    }
    return true;
}
