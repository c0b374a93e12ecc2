#include "kestrel/shell/panes.h"

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <algorithm>

#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/shell/pictures.h"
#include "shared/gdi/font.h"
#include "kestrel/shell/shell_rules.h"
#include "platform/msgbox.h"
#include "shared/ui/raised_text.h"
#include "shared/ui/screen_place.h"

// ---- Status pane -------------------------------------------------------------------------

StatusPane::StatusPane(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TextBottom"));
    hFont_ = QApplication::font();
    hFont_.setPointSize(8);
    // Six border heights, the text and two pixels.
    lHeight_ = 6 + QFontMetrics(hFont_).height() + 2;
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void StatusPane::SetText(const QString& text) {
    text_ = text;
    update();
}

void StatusPane::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor face = palette().button().color();
    p.fillRect(rect(), face);
    p.setPen(palette().dark().color());
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const QRect inset = rect().adjusted(9, 3, -9, -3);
    p.setFont(hFont_);
    p.setClipRect(inset);
    DrawRaisedText(p, inset.left() + 2, inset.top() + QFontMetrics(hFont_).ascent(), text_.left(128), face,
                   Qt::gray);
}

void StatusPane::mousePressEvent(QMouseEvent* event) {
    if (report.num_text_lines <= 0) return;
    MouseState m;
    switch (event->button()) {
        case Qt::LeftButton: m.button = MouseButton::Left; break;
        case Qt::RightButton: m.button = MouseButton::Right; break;
        case Qt::MiddleButton: m.button = MouseButton::Middle; break;
        default: return;
    }
    m.shift = (event->modifiers() & Qt::ShiftModifier) != 0;
    m.control = (event->modifiers() & Qt::ControlModifier) != 0;
    m.left_held = m.button != MouseButton::Left && (event->buttons() & Qt::LeftButton) != 0;
    m.right_held = m.button != MouseButton::Right && (event->buttons() & Qt::RightButton) != 0;
    const BottomTextStep step = StepBottomText(report.temp_text_lines, report.num_text_lines, m);
    report.temp_text_lines = step.cursor;
    SetText(QString::fromUtf8(report.text_cpu_line[size_t(step.shown - 1)].c_str()));
}

// A second click in quick succession is one more click.
void StatusPane::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

// ---- Report pane -------------------------------------------------------------------------

namespace {

// The hidden twin of a report-pane scroll bar: paints only the rows it is asked for, with the
// painter clipped to them as well, so the raster engine cuts long lines to the band before it
// fills them.
class BandTwin : public QScrollBar {
public:
    explicit BandTwin(Qt::Orientation orientation) : QScrollBar(orientation) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        QStyleOptionSlider option;
        initStyleOption(&option);
        option.subControls = QStyle::SC_All;
        if (isSliderDown()) {  // the slider held by the pointer
            option.activeSubControls = QStyle::SC_ScrollBarSlider;
            option.state |= QStyle::State_Sunken;
        }
        QPainter p(this);
        p.setClipRect(event->rect());
        style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &p, this);
    }
};

// A scroll bar of the report pane. During a run it is repainted with every report line, between
// the tests. Qt's raster engine hands a fill of many rows (the groove, the frame lines of a tall
// bar) to its thread pool and waits for it, so those threads would wake with every line: during a
// run the bar is therefore drawn in bands of a few rows, each one as a repaint of just those rows
// draws it (by the twin in the bar's state, into a picture of the band), and shown band by band.
// Outside a run it paints as any scroll bar.
class BandedScrollBar : public QScrollBar {
public:
    BandedScrollBar(Qt::Orientation orientation, QWidget* parent)
        : QScrollBar(orientation, parent), twin_(orientation) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        if (run.testrunning == 0) {
            QScrollBar::paintEvent(event);
            return;
        }
        twin_.setPalette(palette());
        twin_.setFont(font());
        twin_.setEnabled(isEnabled());
        twin_.resize(size());
        twin_.setRange(minimum(), maximum());
        twin_.setPageStep(pageStep());
        twin_.setSingleStep(singleStep());
        twin_.setInvertedAppearance(invertedAppearance());
        twin_.setValue(value());
        twin_.setSliderPosition(sliderPosition());
        twin_.setSliderDown(isSliderDown());
        QPainter p(this);
        const QRect area = event->rect();
        const qreal ratio = devicePixelRatioF();
        QImage band(QSize(width(), kPaintBandRows) * ratio, QImage::Format_ARGB32_Premultiplied);
        band.setDevicePixelRatio(ratio);
        for (int y = area.top(); y <= area.bottom(); y += kPaintBandRows) {
            const QRect rows(area.left(), y, area.width(), std::min(kPaintBandRows, area.bottom() + 1 - y));
            band.fill(Qt::transparent);
            twin_.render(&band, QPoint(), QRegion(rows));
            p.drawImage(rows.topLeft(), band, QRect(QPoint(), rows.size() * ratio));
        }
    }

private:
    BandTwin twin_;
};

}  // namespace

ReportPane::ReportPane(QWidget* parent) : QAbstractScrollArea(parent), caption_(new QLabel(this)) {
    setObjectName(QStringLiteral("NewClass"));
    setVerticalScrollBar(new BandedScrollBar(Qt::Vertical, this));
    setHorizontalScrollBar(new BandedScrollBar(Qt::Horizontal, this));
    setFrameShape(QFrame::Box);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    QFont bold = caption_->font();
    bold.setBold(true);
    caption_->setFont(bold);
    caption_->setIndent(4);
    caption_->setText(QString::fromLatin1(kDefaultCaption));
    // Drawn as an active window's caption.
    caption_->setStyleSheet(QStringLiteral("QLabel { background-color: palette(highlight); color: palette(highlighted-text); }"));
    setViewportMargins(0, QFontMetrics(bold).height() + 6, 0, 0);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this](int a) { VerticalAction(a); });
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this, [this](int a) { HorizontalAction(a); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int v) {
        if (v != nVPos && v >= 0 && v <= nVMax) {
            nVPos = v;
            viewport()->update();
        }
    });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this](int v) {
        if (v != nHPos && v >= 0 && v <= nHMax) {
            nHPos = v;
            viewport()->update();
        }
    });
    ApplyFont();
}

void ReportPane::SetCaption(const QString& caption) { caption_->setText(caption); }

QString ReportPane::Caption() const { return caption_->text(); }

void ReportPane::ApplyFont() {
    font_ = FontFromLogFont(prefs.GlobalLogFont, font());
    const QFontMetrics fm(font_);
    nXChar = std::max(1, fm.averageCharWidth());
    nYChar = std::max(1, fm.height() + fm.leading());
    nCaps = QFontInfo(font_).fixedPitch() ? nXChar : 3 * nXChar / 2;
    nMaxWidth = 60 * nXChar + 18 * nCaps;
    report.nYChar = nYChar;
    UpdateRanges();
    viewport()->update();
}

void ReportPane::SetMainClient(int width, int height) {
    nXClnt_ = width;
    nYClnt_ = height;
    UpdateRanges();
}

void ReportPane::LinesChanged(bool testRunning) {
    if (testRunning) {
        nVPos = FollowNewestLine(nVPos, report.num, report.headernum, viewport()->height(), nYChar);
    }
    UpdateRanges();
    // During a run the report grows visibly line by line.
    if (testRunning) viewport()->repaint();
    else viewport()->update();
}

void ReportPane::LinesCleared() {
    nVPos = 0;
    nHPos = 0;
    UpdateRanges();
    viewport()->update();
}

int ReportPane::LineTop(int z) const {
    if (z <= report.headernum) return -1;
    return (z - nVPos - 1 - report.headernum) * nYChar;
}

void ReportPane::UpdateRanges() {
    nVMax = ReportScrollMax(report.num, report.headernum, viewport()->height(), nYChar);
    nHMax = ReportHScrollMax(nMaxWidth, nXClnt_);
    nVPos = std::clamp(nVPos, 0, nVMax);
    nHPos = std::clamp(nHPos, 0, nHMax);
    verticalScrollBar()->setPageStep(std::max(1, nYClnt_ / nYChar));
    horizontalScrollBar()->setPageStep(8);
    ShowPositions();
}

void ReportPane::ShowPositions() {
    QScrollBar* v = verticalScrollBar();
    QScrollBar* h = horizontalScrollBar();
    const QSignalBlocker bv(v), bh(h);
    v->setRange(0, nVMax);
    v->setValue(nVPos);
    h->setRange(0, nHMax);
    h->setValue(nHPos);
}

void ReportPane::VerticalAction(int action) {
    int step = 0;
    const int page = nYClnt_ / nYChar;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub: step = -1; break;
        case QAbstractSlider::SliderSingleStepAdd: step = 1; break;
        case QAbstractSlider::SliderPageStepSub: step = std::min(-1, -page); break;
        case QAbstractSlider::SliderPageStepAdd: step = std::max(1, page); break;
        case QAbstractSlider::SliderMove: step = verticalScrollBar()->sliderPosition() - nVPos; break;
        case QAbstractSlider::SliderToMinimum: step = -nVPos; break;
        case QAbstractSlider::SliderToMaximum: step = nVMax - nVPos; break;
        default: break;
    }
    // A step that would leave the range is ignored as a whole.
    nVPos = ApplyScrollStep(nVPos, step, nVMax);
    verticalScrollBar()->setSliderPosition(nVPos);
    viewport()->update();
}

void ReportPane::HorizontalAction(int action) {
    int step = 0;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub: step = -1; break;
        case QAbstractSlider::SliderSingleStepAdd: step = 1; break;
        case QAbstractSlider::SliderPageStepSub: step = -8; break;
        case QAbstractSlider::SliderPageStepAdd: step = 8; break;
        case QAbstractSlider::SliderMove: step = horizontalScrollBar()->sliderPosition() - nHPos; break;
        default: break;
    }
    nHPos = ApplyScrollStep(nHPos, step, nHMax);
    horizontalScrollBar()->setSliderPosition(nHPos);
    viewport()->update();
}

void ReportPane::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    const QRect client = viewport()->rect();
    p.fillRect(client, palette().base());
    p.setFont(font_);
    p.setPen(palette().text().color());
    p.setClipRect(client);
    const int ascent = QFontMetrics(font_).ascent();
    const int x = (1 - nHPos) * nXChar;
    // Only the lines that can reach the client area are drawn.
    for (int z = std::max(report.headernum + 1, nVPos + 1 + report.headernum); z < report.num; ++z) {
        const int y = LineTop(z);
        if (y >= client.height()) break;
        p.drawText(x, y + ascent, QString::fromUtf8(report.szGreeting[size_t(z)].c_str()));
        report.y = y;
    }
}

void ReportPane::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const int fw = frameWidth();
    caption_->setGeometry(fw, fw, width() - 2 * fw, viewportMargins().top());
    UpdateRanges();
}

void ReportPane::mouseMoveEvent(QMouseEvent*) {
    if (on_mouse_move) on_mouse_move();
}

// ---- Button bar --------------------------------------------------------------------------

namespace {

struct BarEntry {
    int command;
    const char* caption;
};
constexpr BarEntry kBar[10] = {
    {CMD_NEW_TEST, "New Test"}, {CMD_OPEN, "Open"},           {CMD_SAVE, "Save"},
    {CMD_CLOSE, "Close"},       {CMD_MAIL, "Mail"},           {CMD_PRINT, "Print"},
    {CMD_HELP_INDEX, "Help"},   {CMD_EXIT, "Exit"},           {CMD_STOP, "Stop Test"},
    {CMD_LAUNCH_GLANCE, nullptr},
};

QString HelpOfButton(int k) {
    return QString::fromStdString(text_window_string[size_t(BarHelpSlot(k))]);
}

}  // namespace

BitmapButton::BitmapButton(int k, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ttwnd"));
    auto* tool = new QToolButton(this);
    tool->setObjectName(QString::number(4801 + k));
    tool->setAutoRaise(false);
    const QPixmap picture = ButtonPicture(k);
    tool->setIcon(QIcon(picture));
    tool->setIconSize(picture.size());
    tool->setGeometry(3, 5, 24, 22);
    tool->setToolTip(HelpOfButton(k));
    button_ = tool;
}

void BitmapButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(QPen(palette().dark().color(), 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    // Inside the rectangle from (left, top + 3) to (right, bottom - 9).
    p.drawRect(QRectF(1, 4, width() - 2, height() - 9 - 4));
}

ButtonBar::ButtonBar(QWidget* parent, StatusPane* status, std::function<void(int)> send)
    : QWidget(parent), status_(status), send_(std::move(send)) {
    setObjectName(QStringLiteral("TextTop"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    setMouseTracking(true);
    Build();
}

int ButtonBar::CommandOf(int k) { return kBar[k].command; }

void ButtonBar::Build() {
    bitmaps_ = prefs.buttonvalue == 0;
    const int count = bitmaps_ ? 10 : 9;
    for (int k = 0; k < count; ++k) {
        QAbstractButton* button = nullptr;
        QWidget* window = nullptr;
        if (bitmaps_) {
            auto* b = new BitmapButton(k, this);
            b->setGeometry(34 * k + 34, 3, 30, 38);
            b->button()->installEventFilter(this);
            button = b->button();
            window = b;
        } else {
            auto* b = new QPushButton(QString::fromLatin1(kBar[k].caption), this);
            b->setObjectName(QString::fromLatin1(kBar[k].caption));
            b->setGeometry(85 * k + 5, 6, 80, 24);
            b->setMouseTracking(true);
            b->installEventFilter(this);
            button = b;
            window = b;
        }
        connect(button, &QAbstractButton::clicked, this, [this, k] { Pressed(k); });
        window->show();
        buttons_.push_back(window);
    }
}

void ButtonBar::Rebuild() {
    for (QWidget* w : buttons_) delete w;
    buttons_.clear();
    ForgetHover();
    Build();
}

QAbstractButton* ButtonBar::Button(int k) const {
    if (k < 0 || k >= int(buttons_.size())) return nullptr;
    if (auto* b = dynamic_cast<BitmapButton*>(buttons_[size_t(k)])) return b->button();
    return dynamic_cast<QAbstractButton*>(buttons_[size_t(k)]);
}

void ButtonBar::Pressed(int k) {
    if (!bitmaps_) ShowHelp(k);
    if (kBar[k].command == CMD_STOP) {
        send_(CMD_STOP);
        return;
    }
    if (run.testrunning != 0) {
        kp::MessageBox(kp::Owner::Main, "Press the stop button first.", "Operation Failed", kp::Icon::Stop);
        return;
    }
    send_(kBar[k].command);
}

void ButtonBar::ShowHelp(int k) { status_->SetText(HelpOfButton(k)); }

void ButtonBar::mouseMoveEvent(QMouseEvent* event) {
    const int x = int(event->position().x());
    if (bitmaps_) {
        if (x < 34 || x >= 337) {
            status_->SetText(QString());
            lastHwnd_ = -1;
        }
        return;
    }
    const int slot = BarSlotAt(x);
    if (slot < 0) {
        status_->SetText(QString());
        lastchanged_ = -1;
    } else if (slot != lastchanged_) {
        ShowHelp(slot);
        lastchanged_ = slot;
    }
}

bool ButtonBar::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
        for (int k = 0; k < int(buttons_.size()); ++k) {
            if (Button(k) != watched) continue;
            if (bitmaps_ && k != lastHwnd_) {
                ShowHelp(k);
                lastHwnd_ = k;
            } else if (!bitmaps_ && k != lastchanged_) {
                ShowHelp(k);
                lastchanged_ = k;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Splash and About ----------------------------------------------------------------------

OpeningWindow::OpeningWindow(int kind, QWidget* owner)
    : QWidget(owner, kind == 0 ? Qt::SplashScreen | Qt::WindowStaysOnTopHint
                               : Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                                     Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    setObjectName(QStringLiteral("opening"));
    picture_ = OpeningPicture(kind, screen != nullptr ? screen->geometry().width() : 1024);
    setAttribute(Qt::WA_DeleteOnClose);
    PlaceOnScreen(this, QRect(150, 150, picture_.width(), picture_.height()));
    setFixedSize(picture_.size());
}

void OpeningWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.drawPixmap(0, 0, picture_);
}
