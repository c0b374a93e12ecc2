// Surfaces and their showing: threads draw while the user-interface thread shows, and the
// blocking showing returns with the picture on the widget.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "shared/gdi/present.h"
#include "tests/support/qt_test_main.h"

namespace {

using namespace gdi;

// Runs the event loop until `done` or the guard runs out (the guard only keeps a broken build
// from hanging; it is not a measurement). Returns `done()`.
template <typename F>
bool SpinUntil(F done) {
    QElapsedTimer guard;
    guard.start();
    while (!done() && guard.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

// Two threads draw into one surface and a third into another, each asking for a blocking showing
// now and then, while the user-interface thread runs its timer; nothing waits forever, and after
// the last blocking showing each widget shows its surface's picture exactly.
TEST(GdiSurface, ThreadsDrawWhileTheUserInterfaceShows) {
    QWidget top;
    top.resize(300, 200);
    auto a = std::make_shared<Surface>(QSize(), RGB(82, 46, 51));
    auto b = std::make_shared<Surface>(QSize(), RGB(255, 255, 255));
    auto* frame_a = new ChildFrame(a, &top);
    auto* frame_b = new ChildFrame(b, &top, true);
    frame_a->setWindowTitle(QStringLiteral("Rotate right, left"));
    frame_a->MoveWindow(QRect(0, 0, 150, 120));
    frame_b->MoveWindow(QRect(150, 0, 150, 120));
    top.show();
    EXPECT_EQ(a->Size(), QSize(148, 100));  // inside the border, below the caption bar
    EXPECT_EQ(frame_a->client()->geometry(), QRect(1, 19, 148, 100));
    ASSERT_FALSE(a->Size().isEmpty());

    std::atomic<int> running{3};
    auto draw = [&running](Surface* s, int seed) {
        DcState state;  // kept between openings, as a window's own context keeps its state
        {
            Surface::Dc dc = s->GetDC(state);
            dc->SelectPen(ExtCreatePen(PS_GEOMETRIC | PS_INSIDEFRAME | PS_ENDCAP_FLAT | PS_JOIN_MITER, 5,
                                       RGB(seed * 40, 0, 255 - seed * 40)));
            dc->SelectBrush(CreateSolidBrush(RGB(0, seed * 60, 0)));
        }
        for (int i = 0; i < 400; ++i) {
            {
                Surface::Dc dc = s->GetDC(state);
                const QSize size = dc->Size();
                const int x = (i * 7 + seed * 13) % std::max(1, size.width());
                const int y = (i * 5 + seed * 3) % std::max(1, size.height());
                dc->Ellipse(x, y, x + 30, y + 20);
                dc->PatBlt(x, y, 10, 10, PATINVERT);
            }
            if (i % 50 == 49) PresentAll();  // no context held
        }
        running.fetch_sub(1);
    };
    std::thread t1(draw, a.get(), 1), t2(draw, a.get(), 2), t3(draw, b.get(), 3);
    const bool finished = SpinUntil([&] { return running.load() == 0; });
    if (!finished) std::_Exit(3);  // a deadlock: end rather than hang on the joins
    t1.join();
    t2.join();
    t3.join();

    // One more blocking showing from a thread, then both widgets show their surfaces' pictures.
    std::atomic<bool> shown{false};
    std::thread last([&] {
        PresentAll();
        shown = true;
    });
    ASSERT_TRUE(SpinUntil([&] { return shown.load(); }));
    last.join();
    for (const auto& [frame, surface] : {std::pair{frame_a, a}, std::pair{frame_b, b}}) {
        QImage picture;
        {
            Surface::Dc dc = surface->GetDC();
            picture = dc->Image()->copy();
        }
        EXPECT_EQ(frame->client()->Shown(), picture);
        int drawn = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) drawn += picture.pixel(x, y) != surface->Background();
        EXPECT_GT(drawn, 0);
    }
}

// Drawing asks for a showing: the timer alone puts the change on the widget; PresentAll on the
// user-interface thread shows at once; a resize clears the surface to its background.
TEST(GdiSurface, ReleaseAsksForAShowingAndResizeClears) {
    auto s = std::make_shared<Surface>(QSize(40, 30), RGB(82, 46, 51));
    SurfaceWidget widget(s);
    widget.show();
    PresentAll();
    EXPECT_EQ(widget.Shown().pixel(5, 5), RGB(82, 46, 51));
    {
        Surface::Dc dc = s->GetDC();
        dc->FillRect(QRect(0, 0, 10, 10), CreateSolidBrush(RGB(0, 0, 255)));
    }
    EXPECT_TRUE(s->HasChanges());
    EXPECT_TRUE(SpinUntil([&] { return widget.Shown().pixel(5, 5) == RGB(0, 0, 255); }));
    EXPECT_FALSE(s->HasChanges());

    {
        Surface::Dc dc = s->GetDC();
        dc->FillRect(QRect(0, 0, 10, 10), CreateSolidBrush(RGB(0, 255, 0)));
    }
    PresentAll();
    EXPECT_EQ(widget.Shown().pixel(5, 5), RGB(0, 255, 0));

    // A state kept by the caller survives between openings; a fresh opening starts from the defaults.
    DcState state;
    const Pen red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    {
        Surface::Dc dc = s->GetDC(state);
        dc->SelectPen(red);
        dc->MoveToEx(3, 4);
    }
    {
        Surface::Dc dc = s->GetDC(state);
        EXPECT_EQ(dc->GetCurrentPosition(), QPoint(3, 4));
        EXPECT_EQ(dc->State().pen, red);
        dc->LineTo(3, 9);
    }
    {
        Surface::Dc dc = s->GetDC();
        EXPECT_EQ(dc->GetCurrentPosition(), QPoint(0, 0));
        EXPECT_EQ(dc->GetPixel(3, 8), RGB(255, 0, 0));
    }

    widget.resize(60, 50);
    EXPECT_EQ(s->Size(), QSize(60, 50));
    PresentAll();
    EXPECT_EQ(widget.Shown().size(), QSize(60, 50));
    EXPECT_EQ(widget.Shown().pixel(5, 5), RGB(82, 46, 51));
}

// A scroll moves the picture in place: the showing side moves its copy alike, and the part it
// copies is only what was drawn (moved along when drawn before the scroll), the band the scroll
// uncovered and the line drawn into it; a caller that cannot move its copy takes all of it.
TEST(GdiSurface, AScrollChangesOnlyTheUncoveredBandAndTheNewLine) {
    struct Row {
        QPoint move;
        QRect before;  // drawn before the scroll, in the same context
        QRect line;    // drawn into the uncovered band
        QRect changed;
    };
    const Row rows[] = {
        {{0, -10}, QRect(2, 25, 20, 5), QRect(0, 30, 30, 10), QRect(0, 15, 50, 25)},
        {{0, 6}, QRect(), QRect(5, 0, 10, 6), QRect(0, 0, 50, 6)},
        {{-4, 0}, QRect(40, 0, 3, 3), QRect(46, 10, 4, 4), QRect(36, 0, 14, 40)},
    };
    for (const Row& row : rows) {
        for (const bool movable : {true, false}) {
            auto s = std::make_shared<Surface>(QSize(50, 40), RGB(255, 255, 255));
            FrontPicture shown;
            {
                Surface::Dc dc = s->GetDC();
                for (int y = 0; y < 40; ++y)
                    for (int x = 0; x < 50; ++x) dc->SetPixel(x, y, qRgb(x * 5, y * 6, 9));
            }
            ASSERT_EQ(s->TakeChanges(shown, true), QRect(0, 0, 50, 40));
            // Twice where the copy is moved: the second move starts from turned rows.
            for (int round = 0; round < (movable ? 2 : 1); ++round) {
                {
                    Surface::Dc dc = s->GetDC();
                    if (!row.before.isEmpty()) dc->FillRect(row.before, CreateSolidBrush(RGB(0, 0, 255 - round)));
                    ASSERT_TRUE(dc->ScrollImage(row.move.x(), row.move.y(), RGB(255, 255, 255)));
                    dc->FillRect(row.line, CreateSolidBrush(RGB(255, round, 0)));
                }
                QPoint moved(99, 99);
                const std::optional<QRect> r =
                    s->TakeChanges(shown, true, movable ? &moved : nullptr);
                SCOPED_TRACE(std::to_string(row.move.x()) + "," + std::to_string(row.move.y()) +
                             (movable ? "" : " whole") + " round " + std::to_string(round));
                ASSERT_TRUE(r.has_value());
                EXPECT_EQ(*r, movable ? row.changed : QRect(0, 0, 50, 40));
                if (movable) {
                    EXPECT_EQ(moved, row.move);
                }
                Surface::Dc dc = s->GetDC();
                EXPECT_EQ(shown.Unrolled(s->Background()), *dc->Image());
            }
        }
    }
    // A widget showing a scrolled surface paints its turned rows in order.
    auto s = std::make_shared<Surface>(QSize(50, 40), RGB(255, 255, 255));
    SurfaceWidget widget(s);
    widget.show();
    {
        Surface::Dc dc = s->GetDC();
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 50; ++x) dc->SetPixel(x, y, qRgb(x * 5, y * 6, 9));
    }
    PresentAll();
    {
        Surface::Dc dc = s->GetDC();
        dc->ScrollImage(0, -15, RGB(255, 255, 255));
        dc->FillRect(QRect(0, 25, 30, 15), CreateSolidBrush(RGB(255, 0, 0)));
    }
    PresentAll();
    Surface::Dc dc = s->GetDC();
    EXPECT_EQ(widget.grab().toImage().convertToFormat(QImage::Format_RGB32), *dc->Image());
}

// An erase keeps the picture itself (a test that erases and draws every frame makes no new picture
// per frame): the next drawing finds the same picture, all background again. A new size makes a
// picture of that size.
TEST(GdiSurface, AnEraseKeepsThePictureForTheNextDrawing) {
    auto s = std::make_shared<Surface>(QSize(400, 300), RGB(82, 46, 51));
    auto picture = [&] {
        Surface::Dc dc = s->GetDC();
        return dc->Image()->cacheKey() >> 32;  // which picture, not which version of it
    };
    {
        Surface::Dc dc = s->GetDC();
        dc->FillRect(QRect(0, 0, 10, 10), CreateSolidBrush(RGB(0, 0, 255)));
    }
    const qint64 first = picture();
    s->Erase();
    {
        Surface::Dc dc = s->GetDC();
        EXPECT_EQ(dc->Image()->cacheKey() >> 32, first);
        EXPECT_EQ(dc->GetPixel(5, 5), RGB(82, 46, 51));
    }
    s->Resize(QSize(200, 100));
    {
        Surface::Dc dc = s->GetDC();
        EXPECT_NE(dc->Image()->cacheKey() >> 32, first);
        EXPECT_EQ(dc->Image()->size(), QSize(200, 100));
        EXPECT_EQ(dc->GetPixel(150, 50), RGB(82, 46, 51));
    }
}

// After an erase the showing side keeps its front picture's memory: the part it held goes back to
// the background, and only what was drawn since is copied; the part that changes on screen is what
// the front held plus what was drawn. A change of the whole picture hands the picture over instead
// of copying it; no step makes a new picture. A widget shows the held part and the background
// around it.
TEST(GdiSurface, AfterAnEraseOnlyWhatIsDrawnIsCopiedIntoTheKeptFront) {
    struct Step {
        bool erase;
        QRect drawn;    // drawn after the erase (none: empty)
        QRect changed;  // the part of the front picture that changes
        QRect held;     // the part the front then holds
        bool handed = false;  // the front takes the surface's picture itself
    };
    const QRect all(0, 0, 80, 60);
    const Step steps[] = {
        {false, all, all, all},                                                     // drawn all over
        {true, QRect(), all, QRect()},                                              // erased: all of it back
        {false, QRect(10, 10, 5, 5), QRect(10, 10, 5, 5), QRect(10, 10, 5, 5)},     // a small drawing
        {true, QRect(30, 20, 4, 4), QRect(10, 10, 24, 14), QRect(30, 20, 4, 4)},   // erased and drawn
        {false, QRect(70, 50, 2, 2), QRect(70, 50, 2, 2), QRect(30, 20, 42, 32)},  // drawn beside
        {true, QRect(), QRect(30, 20, 42, 32), QRect()},
        {true, QRect(), QRect(), QRect()},  // erased twice: nothing changes
        {true, all, all, all, true},        // erased and drawn all over
        {false, QRect(1, 2, 3, 4), QRect(1, 2, 3, 4), all},
    };
    auto s = std::make_shared<Surface>(all.size(), RGB(82, 46, 51));
    FrontPicture front;
    std::set<qint64> pictures;  // the front's and the surface's
    int n = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE("step " + std::to_string(n++));
        if (step.erase) s->Erase();
        if (!step.drawn.isEmpty()) {
            Surface::Dc dc = s->GetDC();
            for (int y = step.drawn.top(); y <= step.drawn.bottom(); ++y)
                for (int x = step.drawn.left(); x <= step.drawn.right(); ++x) dc->SetPixel(x, y, qRgb(x * 3, y * 4, n));
        }
        qint64 picture = 0;
        if (step.handed) {
            Surface::Dc dc = s->GetDC();
            picture = dc->Image()->cacheKey() >> 32;
        }
        EXPECT_EQ(s->TakeChanges(front, true), step.changed);
        if (step.handed) {
            EXPECT_EQ(front.image.cacheKey() >> 32, picture);
        }
        EXPECT_EQ(front.held, step.held);
        Surface::Dc dc = s->GetDC();
        EXPECT_EQ(front.Unrolled(s->Background()), *dc->Image());
        const std::set<qint64> now = {front.image.cacheKey() >> 32, dc->Image()->cacheKey() >> 32};
        if (pictures.empty()) pictures = now;
        EXPECT_EQ(now, pictures);
    }

    // On screen: a drawing after an erase, and the erase of it.
    SurfaceWidget widget(s);
    widget.show();
    PresentAll();
    for (const bool erase : {false, true}) {
        if (erase) {
            s->Erase();
        } else {
            Surface::Dc dc = s->GetDC();
            dc->FillRect(QRect(5, 6, 20, 10), CreateSolidBrush(RGB(0, 0, 255)));
        }
        PresentAll();
        EXPECT_EQ(widget.grab().toImage().convertToFormat(QImage::Format_RGB32), widget.Shown());
        EXPECT_EQ(widget.Shown().pixel(6, 7), erase ? RGB(82, 46, 51) : RGB(0, 0, 255));
        EXPECT_EQ(widget.Shown().pixel(30, 30), RGB(82, 46, 51));
    }
}

// The timer's showing passes over a surface that another thread holds and shows it once the
// context has ended; it never waits for the lock.
TEST(GdiSurface, TheTimerPassesOverALockedSurface) {
    auto s = std::make_shared<Surface>(QSize(20, 20), RGB(255, 255, 255));
    SurfaceWidget widget(s);
    widget.show();
    PresentAll();
    s->Erase();  // a change waiting to be shown
    std::atomic<int> step{0};
    std::thread holder([&] {
        Surface::Dc dc = s->GetDC();
        dc->FillRect(QRect(0, 0, 20, 20), CreateSolidBrush(RGB(9, 9, 9)));
        step = 1;
        // Held until the user-interface thread has tried; the guard only keeps a broken build
        // from hanging (it would then find the lock free and fail below).
        for (int i = 0; i < 30000 && step.load() == 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (step.load() == 0) std::this_thread::yield();
    EXPECT_EQ(Presenter::Instance().PresentNow(false), 0);
    EXPECT_TRUE(s->HasChanges());
    step = 2;
    holder.join();
    EXPECT_EQ(Presenter::Instance().PresentNow(false), 1);
    EXPECT_EQ(widget.Shown().pixel(3, 3), RGB(9, 9, 9));
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }
