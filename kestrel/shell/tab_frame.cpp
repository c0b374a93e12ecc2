#include "kestrel/shell/tab_frame.h"

#include <QAbstractScrollArea>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QSizeGrip>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "kestrel/shell/pictures.h"

const std::vector<const char*>& TabTexts(int kind) {
    static const std::vector<const char*> preferences = {"Mail/File Settings", "Display Settings",
                                                         "Benchmark Settings"};
    static const std::vector<const char*> configuration = {"Computer", "CPU/Memory", "Video", "Disk"};
    return kind == kPreferencesFrame ? preferences : configuration;
}

const char* TabFrameTitle(int kind) { return kind == kPreferencesFrame ? "Preferences" : "Configuration"; }

TabFrame::TabFrame(int kind, QWidget* report_pane, const PageMaker& make_pages) : QFrame(report_pane), kind_(kind) {
    setObjectName(QStringLiteral("tabs"));
    // A window inside the report pane: the sizing grip resizes this frame.
    setWindowFlags(Qt::SubWindow);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(3);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    setWindowTitle(QString::fromLatin1(TabFrameTitle(kind)));

    // The caption: the title and the maximize box.
    caption_ = new QWidget(this);
    caption_->setAutoFillBackground(true);
    caption_->setBackgroundRole(QPalette::Highlight);
    caption_->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    title_ = new QLabel(windowTitle(), caption_);
    title_->setForegroundRole(QPalette::HighlightedText);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    title_->setAttribute(Qt::WA_TransparentForMouseEvents);
    maximise_ = new QToolButton(caption_);
    maximise_->setObjectName(QStringLiteral("maximize"));
    maximise_->setIcon(style()->standardIcon(QStyle::SP_TitleBarMaxButton));
    maximise_->setAutoRaise(true);
    connect(maximise_, &QToolButton::clicked, this, [this] { ToggleMaximised(); });
    auto* row = new QHBoxLayout(caption_);
    row->setContentsMargins(4, 1, 1, 1);
    row->addWidget(title_, 1);
    row->addWidget(maximise_);

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QString::number(kTabControlId));
    tabs_->setFocusPolicy(Qt::TabFocus);
    tabs_->setIconSize(QSize(32, 32));
    tabs_->tabBar()->setToolTip(kind == kPreferencesFrame ? QStringLiteral("Select a tab to change preferences")
                                                          : QStringLiteral("Click a tab to set your system configuration"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(frameWidth(), frameWidth(), frameWidth(), frameWidth());
    column->setSpacing(0);
    column->addWidget(caption_);
    column->addWidget(tabs_, 1);

    grip_ = new QSizeGrip(this);

    const int button = style()->pixelMetric(QStyle::PM_TitleBarButtonSize, nullptr, this);
    // 5, 5 inside the pane's text area, below its caption.
    QPoint origin(5, 5);
    if (auto* area = qobject_cast<QAbstractScrollArea*>(report_pane)) origin += area->viewport()->pos();
    setGeometry(origin.x(), origin.y(), kTabFrameWidth, TabFrameHeight(button));

    // The pages, each under its tab with the frame's picture.
    const QIcon picture(TabPicture());
    const std::vector<const char*>& texts = TabTexts(kind);
    const std::vector<QWidget*> pages = make_pages ? make_pages(*this) : std::vector<QWidget*>{};
    for (size_t s = 0; s < texts.size(); ++s) {
        QWidget* page = s < pages.size() && pages[s] != nullptr ? pages[s] : new QWidget;
        tabs_->addTab(page, picture, QString::fromLatin1(texts[s]));
    }
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int s) {
        if (s < 0) return;
        focus_ = s;
        if (QWidget* page = Page(s)) page->setFocus();
    });

    show();
    raise();
    tabs_->setCurrentIndex(0);
    focus_ = 0;
    if (QWidget* first = Page(0)) first->setFocus();
}

int TabFrame::PageCount() const { return tabs_->count(); }

QWidget* TabFrame::Page(int s) const { return tabs_->widget(s); }

void TabFrame::ShowPage(int s) { tabs_->setCurrentIndex(s); }

void TabFrame::Close() {
    if (closing_) return;
    closing_ = true;
    hide();
    emit closed();
    deleteLater();
}

void TabFrame::ToggleMaximised() {
    QWidget* pane = parentWidget();
    if (pane == nullptr) return;
    if (normal_.isNull()) {
        normal_ = geometry();
        setGeometry(pane->rect());
        maximise_->setIcon(style()->standardIcon(QStyle::SP_TitleBarNormalButton));
    } else {
        setGeometry(normal_);
        normal_ = QRect();
        maximise_->setIcon(style()->standardIcon(QStyle::SP_TitleBarMaxButton));
    }
}

void TabFrame::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    const QSize g = grip_->sizeHint();
    grip_->setGeometry(width() - g.width(), height() - g.height(), g.width(), g.height());
    grip_->raise();
}

// The caption moves the frame inside the report pane; a double click maximises it.
void TabFrame::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && caption_->geometry().contains(event->position().toPoint())) {
        dragging_ = true;
        drag_offset_ = event->position().toPoint();
        raise();
        return;
    }
    QFrame::mousePressEvent(event);
}

void TabFrame::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        move(mapToParent(event->position().toPoint()) - drag_offset_);
        return;
    }
    dragging_ = false;
    QFrame::mouseMoveEvent(event);
}

void TabFrame::mouseDoubleClickEvent(QMouseEvent* event) {
    if (caption_->geometry().contains(event->position().toPoint())) ToggleMaximised();
    else QFrame::mouseDoubleClickEvent(event);
}
