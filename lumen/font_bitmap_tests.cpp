#include "lumen/font_bitmap_tests.h"

#include <QFontDatabase>
#include <QRegion>

#include <vector>

#include "lumen/bitmaps/bitmaps.h"
#include "lumen/frame.h"
#include "lumen/generator.h"
#include "lumen/timing.h"
#include "lumen/windows.h"
#include "shared/gdi/font.h"
#include "shared/gdi/present.h"

namespace lumen {

std::optional<QFont> hFont;
int nHPos = 0, nHMax = 0, nHInc = 0;

namespace {

constexpr QRgb kWhite = 0xFFFFFFFFu;

// What scrolling uncovered in the text window since its last painting (user-interface thread).
QRegion gl1_uncovered;

QRect ToQRect(const Rect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

void SetCell(const TextCell& c) {
    nXChar = c.nXChar;
    nYChar = c.nYChar;
    nCaps = c.nCaps;
    nMaxWidth = c.nMaxWidth;
}

TextCell CurrentCell() {
    TextCell c;
    c.nXChar = nXChar;
    c.nYChar = nYChar;
    c.nCaps = nCaps;
    c.nMaxWidth = nMaxWidth;
    return c;
}

// The text window's creation and sizing: an empty list, the client size, the scroll ranges.
void gl1_Create(Window* window) {
    {
        std::lock_guard<std::mutex> lock(text_list.mutex);
        text_list.szGreeting.clear();
        text_list.num = 0;
        text_list.yy = 0;
    }
    gl1_uncovered = QRegion();
    const QSize client = window->ClientSize();
    nYClnt = client.height();
    nXClnt = client.width();
    const ScrollRanges r = TextWindowRanges(nXClnt, nYClnt, nYChar, nMaxWidth);
    nVMax = r.nVMax;
    nVPos = std::min(nVPos, nVMax);
    nHMax = r.nHMax;
    nHPos = std::min(nHPos, nHMax);
}

// The text window's end: the font, the list and its lines go.
void gl1_Destroy() {
    hFont.reset();
    std::lock_guard<std::mutex> lock(text_list.mutex);
    text_list.szGreeting = {};
    text_list.num = 0;
    text_list.yy = 0;
}

// One timed run of the font test (user-interface thread): five weight passes of the four faces,
// a font per line.
double FontRun(Window* text, const LineRange& lines) {
    // Outside the time: the installed families (one question to the font database) and the
    // fallback font (a copy of the application's font, which is read under a lock); each
    // line's font is then made from its record alone.
    const QStringList installed = QFontDatabase::families();
    const QFont fallback;
    Stopwatch watch;
    if (!watch.Start()) return -1.0;
    const auto& buf = textbuf();
    for (int w = 0; w < 10 * kWeightPasses; w += 10) {
        for (const FaceGroup& group : kFaceGroups) {
            text->SetTitle(group.title);
            text->Update();
            for (int k = lines.first; k <= lines.last; ++k) {
                hFont = FontFromLogFont(LineFont(CurrentCell(), w, group.face), fallback, installed);
                output_string(text, buf[size_t(k)]);
                hFont.reset();
            }
        }
        SetCell(GrownCell(CurrentCell()));
    }
    const double ms = watch.Stop();
    SetCell(StartCell());
    return ms;
}

// Between repeated runs: an erased window, emptied lines, scroll positions 0.
void ResetTextWindow(Window* text) {
    text->InvalidateAndUpdate();
    {
        std::lock_guard<std::mutex> lock(text_list.mutex);
        for (std::string& line : text_list.szGreeting) line.clear();
        text_list.num = 0;
        text_list.yy = 0;
    }
    gdi::RunOnGuiThread([] { gl1_uncovered = QRegion(); });
    nVPos = 0;
    nHPos = 0;
}

}  // namespace

void gl1_Paint(Window* window, const Rect& band) {
    const QSize size = window->ClientSize();
    const QRect client(QPoint(0, 0), size);
    const QRect clip = ((gl1_uncovered | ToQRect(band)).boundingRect()) & client;
    gl1_uncovered = QRegion();
    SeedThreadGenerator();
    const int red = Rand() % 255;
    const int green = Rand() % 255;
    const int blue = Rand() % 255;
    std::lock_guard<std::mutex> lock(text_list.mutex);
    const int nBegin = 0;
    const int nEnd = text_list.num;
    // One painting holds the window's context from its start to its end; only this thread draws
    // into the text window.
    gdi::Surface::Dc dc = window->GetDC();
    dc->SetBkColor(kWhite);
    dc->SetTextColor(gdi::RGB(red, green, blue));
    if (hFont) dc->SelectFont(*hFont);
    int yy = text_list.yy;
    for (int k = nBegin; k < nEnd; ++k) {
        const int x = (1 - nHPos) * nXChar;
        yy = (k - nVPos - 1) * nYChar;
        if (yy > size.height()) {
            nVInc = 1;
            ++nVPos;
            dc->ScrollImage(0, -nYChar, kWhite);
            gl1_uncovered |= QRect(0, size.height() - nYChar, size.width(), nYChar);
        }
        dc->ExtTextOut(x, yy, gdi::ETO_CLIPPED, &clip, QString::fromStdString(text_list.szGreeting[size_t(k)]));
    }
    text_list.yy = yy;
}

double FontScrollDraw() {
    resize(hwndParent);
    const QSize main_client = hwndParent->ClientSize();
    const Rect client{0, 0, main_client.width(), main_client.height()};
    const int main_vpos = nVPos;
    const LineRange lines = FontTestLines(client, kMainWindowCell, nVPos);
    SetCell(StartCell());
    Window* text = CreateWindowOf(WindowClass::Gl1, kFaceGroups[0].title, client, hwndParent);
    if (text == nullptr) return 0.0;
    gdi::RunOnGuiThread([text] {
        gl1_Create(text);
        text->SetPaintProc(&gl1_Paint);
    });
    text->Show();
    text->Update();
    bTerminate = 0;
    iRandSeed = 0;
    const TimedRuns t = RunTimed(count, [&](int) {
        double ms = -1.0;
        gdi::RunOnGuiThread([&] { ms = FontRun(text, lines); });
        if (count != 0) ResetTextWindow(text);
        return ms;
    });
    AtTestEnd();
    gdi::RunOnGuiThread([text] {
        text->SetPaintProc(nullptr);
        gl1_Destroy();
    });
    DestroyWindow(text);
    // The text window's scroll state goes with it.
    nVPos = main_vpos;
    nHPos = 0;
    hwndParent->InvalidateAndUpdate();
    return t.ms;
}

QImage LoadTestBitmap(const std::string& name) { return LoadBitmapResource(name); }

double BMPDraw() {
    // Outside the time: the pictures and every transfer's corners.
    std::vector<QImage> pictures;
    std::vector<std::vector<Transfer>> transfers;
    const QSize client = hwndParent->ClientSize();
    for (const char* name : kBitmapNames) {
        pictures.push_back(LoadTestBitmap(name));
        transfers.push_back(BitmapTransfers(name, pictures.back().width(), pictures.back().height(), client.width(),
                                            client.height()));
    }
    const TimedRuns t = RunTimed(count, [&](int) {
        Stopwatch watch;
        if (!watch.Start()) return -1.0;
        for (size_t i = 0; i < pictures.size(); ++i) {
            const QImage& picture = pictures[i];
            for (const Transfer& tr : transfers[i]) {
                const QPoint pts[3] = {QPoint(tr.p[0].x, tr.p[0].y), QPoint(tr.p[1].x, tr.p[1].y),
                                       QPoint(tr.p[2].x, tr.p[2].y)};
                OneCall(hwndParent, [&](gdi::GdiDc& dc) { dc.PlgBlt(pts, picture, 0, 0, tr.w, tr.h); });
            }
            // What was drawn is on screen before the window is erased for the next picture.
            gdi::PresentAll();
            hwndParent->InvalidateAndUpdate();
        }
        return watch.Stop();
    });
    AtTestEnd();
    return t.ms;
}

}  // namespace lumen
