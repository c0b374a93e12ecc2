// Printing of the report (Print) and the printer-setup command.
#include <QFontInfo>

#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/shell/graph_windows.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "platform/msgbox.h"
#include "shared/ui/print_job.h"

void MainWindow::PrintTextFile(PrintJob& job) {
    const float scale = PrintScale(job.Device().width());
    LinesToPrint doc;
    doc.lines = &report.szGreeting;
    doc.header_name = report.CurrentFile;
    doc.line_height = report_->nYChar;
    doc.maxchars = CharsPerLine(job.Device().width(), double(report_->nXChar) * double(scale));
    doc.font = PrinterFont(prefs.GlobalLogFont, scale, report_->ReportFont());
    doc.after_line = [](int) { return AbortProc(); };
    PrintLines(job, doc);
    job.End();
}

void MainWindow::PrintReport() {
    if (report.num == 0) {
        kp::MessageBox(kp::Owner::Main, "No benchmark data.", "File Exception", kp::Icon::Exclamation);
        return;
    }
    if (!ChoosePrinter(PrinterDialog::Print, report_, report.CurrentFile)) return;
    PrintJob job("Print File - " + report.CurrentFile, report.CurrentFile, this);
    if (!job.Started()) {
        // The totals window (and with it the other graph windows) closes before the box.
        if (TotalsWindow* graph = TotalsGraphWindow()) graph->close();
        PrinterAccessBox();
        return;
    }
    PrintTextFile(job);
}

void MainWindow::PrinterSetup() { ChoosePrinter(PrinterDialog::Setup, this); }
