#include "kestrel/shell/comparison.h"

#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "shared/gdi/font.h"
#include "shared/reference_data.h"

CaptionedPane::CaptionedPane(QWidget* parent, const char* caption, QWidget* contents)
    : QFrame(parent), contents_(contents) {
    setObjectName(QString::fromLatin1(caption));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(1);
    auto* bar = new QWidget(this);
    bar->setAutoFillBackground(true);
    QPalette p = bar->palette();
    p.setColor(QPalette::Window, palette().color(QPalette::Highlight));
    p.setColor(QPalette::WindowText, palette().color(QPalette::HighlightedText));
    bar->setPalette(p);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 1, 1, 1);
    row->addWidget(new QLabel(QString::fromLatin1(caption), bar), 1);
    auto* close = new QToolButton(bar);
    close->setText(QStringLiteral("x"));
    close->setAutoRaise(true);
    connect(close, &QToolButton::clicked, this, [this] {
        if (on_close) on_close();
    });
    row->addWidget(close);
    layout->addWidget(bar);
    contents->setParent(this);
    layout->addWidget(contents, 1);
}

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
