#include "shared/ui/print_job.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

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

// The name last offered for a file ("<base name>.pdf").
QString& OfferedName() {
    static QString name;
    return name;
}

// The dialog makes the name it offers for a file from the job's name, dropping its last
// extension, in the current folder when that lies in the home folder, else in the home folder:
// the last job's name ("Print File - " and a whole path) would name a folder that is not there.
// The document's base name stands in for it. A file chosen before is offered again, unless it
// carries the name offered for the document before: that name follows the document, in the
// same folder while it can be written, else in the home folder.
void OfferFileName(QPrinter& printer, const std::string& document) {
    const QString base = QFileInfo(QString::fromStdString(document)).completeBaseName();
    const QString name = base.isEmpty() ? QString() : base + QStringLiteral(".pdf");
    printer.setDocName(name);
    const QFileInfo last(printer.outputFileName());
    if (!name.isEmpty() && !OfferedName().isEmpty() && last.fileName() == OfferedName()) {
        const QFileInfo folder(last.absolutePath());
        const QString dir = folder.isDir() && folder.isWritable() ? folder.absoluteFilePath() : QDir::homePath();
        printer.setOutputFileName(QDir(dir).filePath(name));
    }
    if (!name.isEmpty()) OfferedName() = name;
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

bool RunDialog(QPrinter& printer, PrinterDialog kind, QWidget* owner) {
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
    return dialog.exec() == QDialog::Accepted;
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
    if (Chooser()) return Chooser()(printer, kind, owner);
    return RunDialog(printer, kind, owner);
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
    ++g_running_jobs;
    previous_ = print_state.hAbortDlgWnd;
    if (abort_dialog) print_state.hAbortDlgWnd = dialog_ = new AbortDialog(current_file, owner);
    printer_.setDocName(QString::fromStdString(doc_name));
    started_ = painter_.begin(&printer_);
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
        if (print_state.Abort != 0) {
            // A cancelled job: the printer system drops it; a PDF file has no such way, so the
            // part written is removed.
            const bool dropped = printer_.abort();
            const bool ended = !painter_.isActive() || painter_.end();
            if (!dropped && !file.isEmpty()) {
                renew = !ended || (RegularFile(file) && !PdfWrittenWhole(file));
                RemovePrintFile(file);
            }
        } else {
            // A document printed to a file must be there whole: a write that failed (a full
            // disk) leaves a file cut short, which is removed and reported.
            const bool ended = painter_.end();
            if (!file.isEmpty() && (!ended || (RegularFile(file) && !PdfWrittenWhole(file)))) {
                RemovePrintFile(file);
                unwritten = file;
                renew = true;
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
    if (!unwritten.isEmpty()) refused = "The document could not be written to " + unwritten.toStdString() + ".";
    if (!refused.empty()) {
        // The box belongs to the window that printed: a graph window stands above the main
        // window, and a box of the main window's would open under it.
        if (owner_ && owner_->isVisible()) QApplication::setActiveWindow(owner_->window());
        kp::MessageBox(kp::Owner::Active, refused, "Printer Exception", kp::Icon::Stop);
    }
    if (--g_running_jobs == 0 && JobsEnded()) JobsEnded()();
}

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
