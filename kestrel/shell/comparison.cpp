#include "kestrel/shell/comparison.h"

#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "shared/gdi/font.h"
#include "shared/reference_data.h"

namespace {

constexpr int kSizingFrame = 4;      // the sizing frame's width
constexpr int kMinimisedWidth = 160;  // a minimised pane's width

}  // namespace

CaptionedPane::CaptionedPane(QWidget* parent, const char* caption, QWidget* contents)
    : QFrame(parent), contents_(contents) {
    setObjectName(QString::fromLatin1(caption));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setAutoFillBackground(true);
    setMouseTracking(true);  // the sizing cursor over the frame
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kSizingFrame, kSizingFrame, kSizingFrame, kSizingFrame);
    layout->setSpacing(1);
    auto* bar = new QWidget(this);
    bar->setAutoFillBackground(true);
    QPalette p = bar->palette();
    p.setColor(QPalette::Window, palette().color(QPalette::Highlight));
    p.setColor(QPalette::WindowText, palette().color(QPalette::HighlightedText));
    bar->setPalette(p);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 1, 1, 1);
    row->setSpacing(1);
    row->addWidget(new QLabel(QString::fromLatin1(caption), bar), 1);
    const auto box = [this, bar, row](const char* name, QStyle::StandardPixmap icon) {
        auto* b = new QToolButton(bar);
        b->setObjectName(QString::fromLatin1(name));
        b->setIcon(style()->standardIcon(icon, nullptr, this));
        b->setAutoRaise(true);
        row->addWidget(b);
        return b;
    };
    minimise_ = box("Minimise", QStyle::SP_TitleBarMinButton);
    maximise_ = box("Maximise", QStyle::SP_TitleBarMaxButton);
    QToolButton* close = box("Close", QStyle::SP_TitleBarCloseButton);
    connect(minimise_, &QToolButton::clicked, this,
            [this] { SetState(state_ == State::Minimised ? State::Normal : State::Minimised); });
    connect(maximise_, &QToolButton::clicked, this,
            [this] { SetState(state_ == State::Maximised ? State::Normal : State::Maximised); });
    connect(close, &QToolButton::clicked, this, [this] {
        if (on_close) on_close();
    });
    layout->addWidget(bar);
    contents->setParent(this);
    layout->addWidget(contents, 1);
}

void CaptionedPane::Place(const QRect& normal) {
    normal_ = normal;
    Apply();
}

void CaptionedPane::SetState(State state) {
    if (state == State::Minimised && state_ != State::Minimised) {
        // The first place at the bottom that no minimised sibling holds.
        std::vector<int> taken;
        for (const auto* other : parentWidget()->findChildren<CaptionedPane*>(Qt::FindDirectChildrenOnly))
            if (other != this && other->state_ == State::Minimised) taken.push_back(other->slot_);
        slot_ = 0;
        while (std::find(taken.begin(), taken.end(), slot_) != taken.end()) ++slot_;
    }
    state_ = state;
    Apply();
}

void CaptionedPane::Apply() {
    const bool minimised = state_ == State::Minimised;
    contents_->setVisible(!minimised);
    minimise_->setIcon(style()->standardIcon(minimised ? QStyle::SP_TitleBarNormalButton : QStyle::SP_TitleBarMinButton,
                                             nullptr, this));
    maximise_->setIcon(style()->standardIcon(
        state_ == State::Maximised ? QStyle::SP_TitleBarNormalButton : QStyle::SP_TitleBarMaxButton, nullptr, this));
    const QRect area = parentWidget()->rect();
    switch (state_) {
        case State::Normal: setGeometry(normal_); break;
        case State::Maximised:
            setGeometry(area);
            raise();
            break;
        case State::Minimised: {
            const int height = layout()->itemAt(0)->widget()->sizeHint().height() + 2 * kSizingFrame;
            setGeometry(slot_ * kMinimisedWidth, area.height() - height, kMinimisedWidth, height);
            raise();
            break;
        }
    }
}

Qt::Edges CaptionedPane::EdgesAt(const QPoint& pos) const {
    if (state_ != State::Normal) return {};  // sized only in its normal state
    Qt::Edges edges;
    if (pos.x() < kSizingFrame) edges |= Qt::LeftEdge;
    if (pos.x() >= width() - kSizingFrame) edges |= Qt::RightEdge;
    if (pos.y() < kSizingFrame) edges |= Qt::TopEdge;
    if (pos.y() >= height() - kSizingFrame) edges |= Qt::BottomEdge;
    return edges;
}

void CaptionedPane::mousePressEvent(QMouseEvent* event) {
    held_ = event->button() == Qt::LeftButton ? EdgesAt(event->position().toPoint()) : Qt::Edges();
    grab_ = event->globalPosition().toPoint();
    start_ = geometry();
}

void CaptionedPane::mouseMoveEvent(QMouseEvent* event) {
    if (!held_) {
        const Qt::Edges e = EdgesAt(event->position().toPoint());
        const bool both = (e & (Qt::LeftEdge | Qt::RightEdge)) && (e & (Qt::TopEdge | Qt::BottomEdge));
        const bool falling = e == (Qt::LeftEdge | Qt::TopEdge) || e == (Qt::RightEdge | Qt::BottomEdge);
        setCursor(both                                      ? (falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor)
                  : e & (Qt::LeftEdge | Qt::RightEdge)      ? Qt::SizeHorCursor
                  : e & (Qt::TopEdge | Qt::BottomEdge)      ? Qt::SizeVerCursor
                                                            : Qt::ArrowCursor);
        return;
    }
    const QPoint d = event->globalPosition().toPoint() - grab_;
    const QSize least = minimumSizeHint().expandedTo(QSize(kMinimisedWidth, 0));
    QRect r = start_;
    if (held_ & Qt::LeftEdge) r.setLeft(std::min(start_.left() + d.x(), start_.right() + 1 - least.width()));
    if (held_ & Qt::RightEdge) r.setRight(std::max(start_.right() + d.x(), start_.left() + least.width() - 1));
    if (held_ & Qt::TopEdge) r.setTop(std::min(start_.top() + d.y(), start_.bottom() + 1 - least.height()));
    if (held_ & Qt::BottomEdge) r.setBottom(std::max(start_.bottom() + d.y(), start_.top() + least.height() - 1));
    normal_ = r;
    setGeometry(r);
}

void CaptionedPane::mouseReleaseEvent(QMouseEvent*) { held_ = {}; }

int ScrollTo(int pos, int max, int delta) {
    const int clamped = std::clamp(delta, -pos, max - pos);
    return clamped != delta ? pos : pos + delta;
}

SpecificView::SpecificView(QWidget* parent, std::function<int()> row) : QAbstractScrollArea(parent), row_(std::move(row)) {
    setObjectName(QStringLiteral("ScrollClass"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    for (QScrollBar* bar : {verticalScrollBar(), horizontalScrollBar()}) {
        connect(bar, &QScrollBar::actionTriggered, this, [this, bar](int action) {
            OnAction(bar, action, bar == verticalScrollBar() ? std::max(1, viewport()->height() / ychar_) : 8);
        });
        connect(bar, &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    }
    Measure();
}

void SpecificView::OnAction(QScrollBar* bar, int action, int page) {
    const int pos = bar->value(), max = bar->maximum();
    int delta = 0;
    switch (action) {
        case QAbstractSlider::SliderSingleStepAdd: delta = 1; break;
        case QAbstractSlider::SliderSingleStepSub: delta = -1; break;
        case QAbstractSlider::SliderPageStepAdd: delta = page; break;
        case QAbstractSlider::SliderPageStepSub: delta = -page; break;
        case QAbstractSlider::SliderToMinimum: delta = -pos; break;
        case QAbstractSlider::SliderToMaximum: delta = max - pos; break;
        default: return;  // the thumb goes where it is dragged
    }
    bar->setSliderPosition(ScrollTo(pos, max, delta));
}

void SpecificView::Measure() {
    const QFont font = FontFromLogFont(prefs.GlobalLogFont, this->font());
    const QFontMetrics fm(font);
    xchar_ = std::max(1, fm.averageCharWidth());
    ychar_ = std::max(1, fm.height() + fm.leading());
    const int caps = (QFontInfo(font).fixedPitch() ? 2 : 3) * xchar_ / 2;
    maxwidth_ = 60 * xchar_ + 18 * caps;
    const int xclient = viewport()->width(), yclient = viewport()->height();
    vmax_ = std::max(0, yclient + 2 - yclient / std::max(1, ychar_));
    hmax_ = std::max(0, (maxwidth_ - xclient / 2) / std::max(1, xclient / 2) + 44);
    verticalScrollBar()->setRange(0, vmax_);
    horizontalScrollBar()->setRange(0, hmax_);
}

void SpecificView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    Measure();
}

std::span<const char* const> SpecificView::Lines() const {
    return reference::SpecificLines(
        reference::SpecificTableFor(row_ ? row_() : -1, results.global_block_size_for_graphs, WIN95_SUPPORT_ON != 0));
}

void SpecificView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().color(QPalette::Base));
    painter.setPen(palette().color(QPalette::Text));
    const QFont font = FontFromLogFont(prefs.GlobalLogFont, this->font());
    painter.setFont(font);
    const QFontMetrics fm(font);
    const int xchar = std::max(1, fm.averageCharWidth()), ychar = std::max(1, fm.height() + fm.leading());
    const int vpos = verticalScrollBar()->value(), hpos = horizontalScrollBar()->value();
    const auto lines = Lines();
    for (size_t i = 0; i < lines.size(); ++i) {
        const int y = ychar * (int(i) - vpos);
        if (y > viewport()->height() || y + ychar < 0) continue;
        painter.drawText(xchar * (1 - hpos), y + fm.ascent(), QString::fromLatin1(lines[i]));
    }
}
