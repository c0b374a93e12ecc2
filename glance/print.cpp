// The viewer's printing: Printer setup, Print (the top document) and Print All (every open
// document in one job), each document's pages headed by its title, the date and its own page
// numbers, with the progress window showing the share of lines printed.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QWindow>
#include <cstdio>

#include "glance/frame.h"
#include "platform/msgbox.h"
#include "shared/gdi/font.h"
#include "shared/print_layout.h"
#include "shared/ui/print_job.h"
#include "shared/ui/scroller.h"
#include "shared/ui/screen_place.h"

namespace glance {

namespace {

constexpr const char* kProgressCaption = "Printing - 0% finished";

}  // namespace

void Frame::OpenProgress(const QString& caption) {
    if (progress_) return;
    // Over the middle of the frame: a quarter of its client in from the left, half-way down, half
    // its width wide and a tenth of its height (at least 70) high, with the caption above that.
    const QRect client = geometry();
    auto* window = new Scroller(caption, false, this);
    window->TruncateLabel();
    window->setObjectName(QStringLiteral("Scroller"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    PlaceOnScreen(window, window->WindowRectFor(QRect(client.x() + client.width() / 4, client.y() + client.height() / 2,
                                                      std::max(1, client.width() / 2), std::max(70, client.height() / 10))));
    window->show();
    progress_ = window;
    // Printing and sending hold the program until they end: the window is put on the screen now,
    // so that its repaints show.
    QElapsedTimer waited;
    waited.start();
    while (progress_ && !progress_->isHidden() && waited.elapsed() < 1000 &&
           (progress_->windowHandle() == nullptr || !progress_->windowHandle()->isExposed()))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
}

void Frame::SetProgress(double fraction) {
    if (!progress_) return;
    progress_->SetPercent(fraction);
    ShowProgressNow();
}

void Frame::ShowProgressNow() {
    // Repaints and the new caption reach the screen; input waits until the work is done.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void Frame::CloseProgress() {
    if (progress_) delete progress_.data();
}

void Frame::PrinterSetup() {
    // The printer chosen here is the one the next Print and Print All start from (for the rest
    // of this run; it is not stored).
    ChoosePrinter(PrinterDialog::Setup, this);
}

bool Frame::PrintDocument(PrintJob& job, DocWindow* window) {
    const Document* doc = store_.Find(window->Id());
    if (doc == nullptr) return true;
    const std::string title = window->windowTitle().toStdString();
    status_->SetText(QStringLiteral("printing:  ") + window->windowTitle());
    status_->repaint();
    const DocView* view = window->View();
    const float scale = PrintScale(job.Device().width());
    LinesToPrint lines;
    lines.lines = &doc->lines;
    lines.header_name = title;
    lines.line_height = view->line_height;
    // A printed line has room for the page's width in the printer font's average characters.
    lines.maxchars = CharsPerLine(job.Device().width(), double(view->char_width) * double(scale));
    lines.font = PrinterFont(settings_.font, scale, font_);
    // A long line is cut as often as it takes: no piece runs off the page's side.
    lines.cut_every_rest = true;
    const int count = int(doc->lines.size());
    int shown = -1;
    lines.after_line = [this, count, &shown](int i) {
        const double progress = double(i + 1) / double(count);
        const int percent = int(progress * 100.0 + 0.1);
        // The window is repainted at once, whenever the number it shows changes.
        if (progress_ && percent != shown) {
            shown = percent;
            progress_->setWindowTitle(QStringLiteral("Printing - %1% finished").arg(percent));
            progress_->SetPercent(progress);
            ShowProgressNow();
        }
        return true;
    };
    const bool done = PrintLines(job, lines);
    if (progress_) progress_->SetPercent(0.0);
    status_->SetText(QString());
    return done;
}

void Frame::Print(bool all) {
    if (TopDocument() == nullptr) {
        kp::MessageBox(kp::Owner::Main, "No opened files to print", "Print Queue Exception", kp::Icon::Information);
        return;
    }
    if (!ChoosePrinter(PrinterDialog::Print, this, TopDocument()->windowTitle().toStdString())) return;
    // The print dialog is modal: the documents are taken as they are after it.
    DocWindow* top = TopDocument();
    if (top == nullptr) return;
    // The documents from the top of the stacking order down; Print takes the top one alone. A
    // document without lines has no page; with none left no job starts.
    QList<QPointer<DocWindow>> order;
    const QList<QMdiSubWindow*> stacking = mdi_->subWindowList(QMdiArea::StackingOrder);
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
        auto* d = dynamic_cast<DocWindow*>(*it);
        if (d == nullptr || (!all && d != top)) continue;
        if (const Document* doc = store_.Find(d->Id()); doc != nullptr && !doc->lines.empty()) order.append(d);
    }
    if (order.isEmpty()) return;
    const std::string name = all ? std::string("Glance - Print All") : "Glance - " + top->windowTitle().toStdString();
    SetBusy(true);
    {
        // No abort dialog: the viewer prints without a Cancel.
        PrintJob job(name, top->windowTitle().toStdString(), this, false);
        if (!job.Started()) {
            PrinterAccessBox();
        } else {
            for (const QPointer<DocWindow>& w : order) {
                if (!w) continue;
                OpenProgress(QString::fromLatin1(kProgressCaption));
                // Each document in its turn comes to the top, as the next window does.
                if (all) mdi_->setActiveSubWindow(w);
                if (w) PrintDocument(job, w);
                if (all) CloseProgress();
            }
            // The progress window goes before the end of the job, so that a box it may show
            // (a file that could not be written) does not stand over a stale bar.
            CloseProgress();
            job.End();
            if (all) {
                if (DocWindow* current = TopDocument()) current->View()->viewport()->update();
            }
        }
    }
    SetBusy(false);
}

}  // namespace glance
