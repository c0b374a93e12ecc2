// Printing: the one printer object of the program (pd), the print and printer-setup dialogs, the
// abort dialog "ABORTDLG", the print job and its page counters, and the printing of text lines
// page by page. The report's printing, the graph windows' and the viewer's go through it.
#pragma once

#include <QDialog>
#include <QFont>
#include <QPainter>
#include <QPointer>
#include <QPrinter>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/spooler.h"
#include "shared/logfont.h"
#include "shared/print_layout.h"

class QLineEdit;
class QTemporaryFile;

// The modeless dialog "ABORTDLG" (caption "Print File") shown while a job runs: the texts
// "Sending File ..." and "Spooling Printer ...", the file's name in field 99 and Cancel (2).
class AbortDialog : public QDialog {
    Q_OBJECT

public:
    AbortDialog(const std::string& current_file, QWidget* owner);
    QString FileText() const;

protected:
    // Escape is Cancel; the close box only ends the dialog.
    void reject() override { AbortDlgProc(); }
    void closeEvent(QCloseEvent* event) override;

private:
    // Cancel: sets Abort and ends the dialog.
    void AbortDlgProc();
    QLineEdit* file_ = nullptr;
};

// The print state of the program. Its counters are 0 between jobs.
struct PrintState {
    std::unique_ptr<QPrinter> pd;          // the printer; made on first use (Printer())
    QPointer<AbortDialog> hAbortDlgWnd;    // the abort dialog of the job that runs (the latest)
    int32_t Abort = 0;                     // 1 once Cancel was pressed
    int32_t LineNumber = 0;                // the current line slot on the page (0 at the top)
    int32_t PageNumber = 0;                // the current page, from 1
    int32_t TextHeight = 0;                // the printer's default font: height plus leading
    int32_t LinesPerPage = 0;              // line slots per page
    float printscale = 1.0f;               // the printer's width in device pixels / 800, at least 1
};

extern PrintState print_state;

// The printer object: made at its first use (high resolution); Printer setup and the print
// dialog change it, and every later print starts from it, until the program ends. After a job
// whose file could not be written it is made anew with the same settings (see PrintJob).
QPrinter& Printer();

// The two dialogs on the printer object.
enum class PrinterDialog { Print, Setup };
// What chooses the printer instead of the dialogs: tests set one that picks a PDF file. It gets
// the printer object and answers true to go on, false for Cancel.
using PrinterChooser = std::function<bool(QPrinter& printer, PrinterDialog kind, QWidget* owner)>;
// An empty chooser puts the dialogs back.
void SetPrinterChooser(PrinterChooser chooser);
// Shows the print dialog (no selection, no page numbers; printing to a PDF file stays offered) or
// the printer-setup dialog on the printer object. False when cancelled, the printer object then
// as it was. The dialog starts on the printer chosen last, a CUPS queue or "Print to File (PDF)".
// Before it, the job name is `document`'s base name with ".pdf" (none without a document), never
// the last job's name; once a file was chosen, the file offered is that name in the folder chosen
// last (the home folder when that folder cannot be written), never a name chosen for another
// document; a file chosen in Printer setup stays for the next print. A pipe or a device typed as
// the file is asked about without being opened.
bool ChoosePrinter(PrinterDialog kind, QWidget* owner, const std::string& document = {});

// The abort procedure: handles every pending event (the abort dialog stays live); true to go
// on, false once Abort is set.
bool AbortProc();

// The program ends: the jobs that run stop as at a Cancel, and nothing more is handed to a pipe
// or a device, nor waited for.
void StopPrintJobs();

// True from a job's start to its end, while its abort procedure takes the events.
bool PrintJobRunning();
// Called once no job runs any more, after the last one's end and its box (one call-back; an empty
// one removes it).
void WhenPrintJobsEnd(std::function<void()> call);

// The printer's default font (a font record of zeros).
QFont PrinterDefaultFont();
// The height plus external leading of the default font on the device (TextHeight).
int DefaultTextHeight(QPaintDevice& device);
// The printer font of a report font record: its height and width times the scale (truncated).
// A record without a height is `screen_font` with its pixel size times the scale.
QFont PrinterFont(const LogFont& lf, float scale, const QFont& screen_font);
// Draws text with its top left corner at (x, y) in the painter's font, tabs expanded to the
// default stops (every eight average character widths).
void TabbedTextOut(QPainter& painter, int x, int y, const std::string& text);
// Draws a page header in the printer's default font at x 10, y = LineNumber x TextHeight.
void DrawPageHeader(QPainter& painter, const std::string& text);
// "Unable to Access printer" (caption "Printer Exception", stop icon).
void PrinterAccessBox();

// What the printer system answered to the job just sent to it; nothing when no answer is known.
// CUPS's own answer unless a test stands another in (an empty source puts CUPS's back).
using SpoolerAnswerSource = std::function<std::optional<kp::SpoolerAnswer>()>;
void SetSpoolerAnswerSource(SpoolerAnswerSource source);
// A job goes to the printer system when it prints to a printer, not to a file. Tests name a
// printer that every job is taken as sent to, whatever its output (an empty name puts this back);
// the printer system's answer is then the one stood in.
void SetStandInPrinter(std::string printer);
// The text of the box for a job sent to `printer` that the printer system did not take, with its
// reason; nothing when it took the job or gave no answer.
std::optional<std::string> RefusedJobText(const std::string& printer, const std::optional<kp::SpoolerAnswer>& answer);

// The longest a pipe or a device named as the output may take no byte before the job gives up
// with a box (30 seconds; tests shorten it, 0 puts it back).
void SetOutputStallLimit(int ms);

// A print job on the printer object, from the start of its document to the end. Starting sets
// Abort to 0 and makes the job's own abort dialog (when asked for), then starts the document;
// when it started, the dialog is shown and `owner` disabled. The end (End or the destructor)
// finishes the document (a cancelled one is dropped: a PDF file is removed), enables `owner`,
// destroys the job's dialog and sets LineNumber and PageNumber to 0; a PDF file that could not be
// written whole (a full disk) is removed and a box (caption "Printer Exception") says so. Only a
// regular file is read back or removed, after a cancel too. For a pipe or a device named as the
// output the document is made in a temporary file, and at the end handed over whole: the output
// is opened once, without waiting (no reader: the box says that nothing reads from it), written
// without blocking while the events are handled (Cancel in the abort dialog stops it), a reader
// that goes away or takes nothing for the stall limit gives the box, never SIGPIPE; it stays. A
// cancelled job hands over the pages printed before the Cancel, with no box. A job sent
// to the printer system that it did not take gets the same caption with the system's reason
// (RefusedJobText). A job started while another
// runs (Print Graph during the report's printing) has a dialog of its own; hAbortDlgWnd names
// the latest job's and goes back to the other's when it ends.
class PrintJob {
public:
    PrintJob(const std::string& doc_name, const std::string& current_file, QWidget* owner,
             bool abort_dialog = true);
    ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    bool Started() const { return started_; }
    QPrinter& Device() { return printer_; }
    QPainter& Painter() { return painter_; }
    // Starts a page: the first one comes with the document, each later one ends the page before.
    void StartPage();
    void End();

private:
    QPrinter& printer_;
    QPainter painter_;
    QPointer<QWidget> owner_;
    QPointer<AbortDialog> dialog_;    // this job's abort dialog
    QPointer<AbortDialog> previous_;  // the dialog of the job that ran when this one started
    bool started_ = false;
    bool ended_ = false;
    int pages_ = 0;
    std::unique_ptr<QTemporaryFile> staged_;  // the document for a pipe or a device, made first
    QString output_;                          // that pipe or device
};

// A text document to print in lines.
struct LinesToPrint {
    const std::vector<std::string>* lines = nullptr;
    std::string header_name;  // the name in the page header
    int line_height = 0;      // a line's height on the screen (nYChar)
    int maxchars = 1;         // characters a printed line has room for
    QFont font;               // the font of the lines on the printer
    // false: a long line is cut once, its rest in the next slot however long (kestrel); true:
    // cut into as many pieces as it takes, one slot each, the page's end checked after each
    // (the viewer: no piece runs off the page).
    bool cut_every_rest = false;
    // After each line (its index): false stops the printing.
    std::function<bool(int)> after_line;
};

// Prints the lines page by page on a started job, from page 1: each page headed by the name, the
// date and the page number, each line at x 1 in its slot, a long line cut as `cut_every_rest` says. Sets
// TextHeight, printscale and LinesPerPage from the job's device (LinesPerPage from the line height
// times printscale). Leaves the counters where the last line left them. False when stopped.
bool PrintLines(PrintJob& job, const LinesToPrint& doc);
