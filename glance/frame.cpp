#include "glance/frame.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "glance/commands.h"
#include "glance/mail_dialog.h"
#include "glance/pictures.h"
#include "glance/reference.h"
#include "platform/msgbox.h"
#include "shared/gdi/font.h"
#include "shared/gdi/font_dialog.h"
#include "shared/strformat.h"
#include "shared/ui/help.h"
#include "shared/ui/raised_text.h"
#include "shared/ui/scroller.h"
#include "shared/ui/screen_place.h"

namespace glance {

namespace {

constexpr int kTopPaneHeight = 40;
constexpr const char* kFileException = "File Exception";
constexpr const char* kTooManyWindows = "Too many windows open!  Close one to open this file.";

struct HelpEntry {
    int id;
    const char* text;
};
// The menu-help texts, by command.
constexpr HelpEntry kHelp[] = {
    {CMD_OPEN, "This option will open multiple benchmark files"},
    {CMD_OPEN_REFERENCE, "This option will open an internal benchmark database file"},
    {CMD_CLOSE, "This option will close a benchmark file/database"},
    {CMD_SAVE_AS, "This option will save a benchmark file"},
    {CMD_MAIL, "This option will mail a benchmark/database file"},
    {CMD_MAIL_ALL, "This option will mail all open benchmark/database files"},
    {CMD_PRINT, "This option will print a benchmark/database file"},
    {CMD_HELP_CONTENTS, "This option will open the help file"},
    {CMD_EXIT, "This option will exit glance"},
    {CMD_PRINTER_SETUP, "This option will bring up the print setup dialog"},
    {CMD_CASCADE, "This option will cascade all opened windows"},
    {CMD_TILE_HORIZONTAL, "This option will tile all opened windows horizontally"},
    {CMD_ARRANGE_ICONS, "This option will arrange all iconified winidows"},
    {CMD_CLOSE_ALL, "This option will close all opened files"},
    {CMD_USING_HELP, "This option will bring up the Using Help window"},
    {CMD_ABOUT, "This option will bring up the about dialog box"},
    {CMD_RESTORE_ALL, "This option will restore all opened (non-iconified) windows"},
    {CMD_PRINT_ALL, "This option will print all opened benchmark/database files"},
    {CMD_TILE_VERTICAL, "This option will tile all opened windows vertically"},
};

// The items that only make sense with a document open.
constexpr int kDocumentItems[] = {CMD_SAVE_AS, CMD_CLOSE,     CMD_MAIL,     CMD_MAIL_ALL,
                                  CMD_PRINT,   CMD_PRINT_ALL, CMD_COPY_ALL, CMD_FONT};
// Items whose help says so when they are greyed.
constexpr int kDisabledHelpItems[] = {CMD_MAIL, CMD_MAIL_ALL, CMD_PRINT, CMD_SAVE_AS, CMD_CLOSE, CMD_PRINT_ALL};

struct ToolEntry {
    int command;
    int bitmap;
};
constexpr ToolEntry kTools[9] = {
    {CMD_OPEN, 1201},  {CMD_OPEN_REFERENCE, 1210}, {CMD_SAVE_AS, 1202},
    {CMD_CLOSE, 1203}, {CMD_MAIL, 1204},           {CMD_MAIL_ALL, 1211},
    {CMD_PRINT, 1205}, {CMD_HELP_CONTENTS, 1206},  {CMD_EXIT, 1207},
};

void FileBox(const std::string& text, kp::Icon icon = kp::Icon::Exclamation) {
    kp::MessageBox(kp::Owner::Main, text, kFileException, icon);
}

// One tool button in its framed window ("ttwnd").
class ToolSlot : public QWidget {
public:
    ToolSlot(int position, QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("ttwnd"));
        button_ = new QToolButton(this);
        button_->setObjectName(QString::number(4801 + position));
        const QPixmap picture = ToolPicture(kTools[position].bitmap);
        button_->setIcon(QIcon(picture));
        button_->setIconSize(picture.size());
        button_->setGeometry(3, 3, 24, 24);
        button_->setToolTip(Frame::HelpText(kTools[position].command));
    }
    QToolButton* button() const { return button_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(QPen(palette().dark().color(), 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        p.drawRect(QRectF(1, 4, width() - 2, height() - 9 - 4));
    }

private:
    QToolButton* button_;
};

// The top pane: the nine tool buttons at x = 34, 68, ... 306. Entering a button shows its help
// text in the status pane; moving anywhere else over the pane (a button's frame, the gaps between
// them, the pane's ends) clears it.
class TopPane : public QWidget {
public:
    TopPane(QWidget* parent, StatusPane* status, std::function<void(int)> send)
        : QWidget(parent), status_(status) {
        setObjectName(QStringLiteral("TextTop"));
        setAutoFillBackground(true);
        setBackgroundRole(QPalette::Button);
        setMouseTracking(true);
        setFixedHeight(kTopPaneHeight);
        for (int k = 0; k < 9; ++k) {
            auto* slot = new ToolSlot(k, this);
            slot->setGeometry(34 * k + 34, 3, 30, 38);
            const int command = kTools[k].command;
            connect(slot->button(), &QToolButton::clicked, this, [send, command] { send(command); });
            slot->button()->installEventFilter(this);
            slot->setMouseTracking(true);  // its moves come on to the pane
            buttons_[k] = slot->button();
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Enter) {
            for (int k = 0; k < 9; ++k) {
                if (watched == buttons_[k] && shown_ != k) {
                    shown_ = k;
                    status_->SetText(Frame::HelpText(kTools[k].command));
                }
            }
        }
        return QWidget::eventFilter(watched, event);
    }
    // Moves over the pane and over the buttons' frames.
    void mouseMoveEvent(QMouseEvent* event) override {
        const QWidget* under = childAt(event->position().toPoint());
        for (const QToolButton* button : buttons_) {
            if (under == button) return;
        }
        shown_ = -1;
        status_->SetText(QString());
    }

private:
    StatusPane* status_;
    QToolButton* buttons_[9] = {};
    int shown_ = -1;
};

}  // namespace

// ---- Status pane -------------------------------------------------------------------------

StatusPane::StatusPane(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TextBottom"));
    font_ = QApplication::font();
    font_.setPointSize(8);
    // Six border heights, the text and two pixels.
    height_ = 6 + QFontMetrics(font_).height() + 2;
    setFixedHeight(height_);
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
    const QRect inset = rect().adjusted(9, 3, -9, -3);
    p.setFont(font_);
    p.setClipRect(inset);
    DrawRaisedText(p, inset.left(), inset.top() + QFontMetrics(font_).ascent(), text_.left(127), face,
                   QColor(0x80, 0x80, 0x80));
}

// ---- Document view -----------------------------------------------------------------------

DocView::DocView(Frame& frame, int id) : QAbstractScrollArea(nullptr), frame_(frame), id_(id) {
    setObjectName(QStringLiteral("glance_doc"));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int a) { Scroll(Qt::Vertical, a); });
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int a) { Scroll(Qt::Horizontal, a); });
    ApplyFont(frame.DocumentFont());
}

void DocView::ApplyFont(const QFont& font) {
    font_ = font;
    const QFontMetrics fm(font_);
    char_width = std::max(1, fm.averageCharWidth());
    line_height = std::max(1, fm.height() + fm.leading());
    widest_ = 0;
    if (const Document* doc = frame_.Store().Find(id_))
        for (const std::string& line : doc->lines)
            widest_ = std::max(widest_, fm.horizontalAdvance(QString::fromUtf8(line.c_str())));
    UpdateRanges();
    viewport()->update();
}

void DocView::LinesChanged() { ApplyFont(font_); }

int DocView::VisibleLines() const { return viewport()->height() / line_height; }

void DocView::UpdateRanges() {
    const Document* doc = frame_.Store().Find(id_);
    const int count = doc != nullptr ? int(doc->lines.size()) : 0;
    // The ranges follow the lines and the window's size.
    vmax = VerticalScrollMax(count, VisibleLines());
    hmax = HorizontalScrollMax(widest_, viewport()->width(), char_width);
    vpos = std::clamp(vpos, 0, vmax);
    hpos = std::clamp(hpos, 0, hmax);
    QScrollBar* v = verticalScrollBar();
    QScrollBar* h = horizontalScrollBar();
    const QSignalBlocker bv(v), bh(h);
    v->setRange(0, vmax);
    v->setPageStep(std::max(1, VisibleLines()));
    v->setValue(vpos);
    h->setRange(0, hmax);
    h->setPageStep(8);
    h->setValue(hpos);
}

void DocView::Scroll(Qt::Orientation orientation, int action) {
    const bool vertical = orientation == Qt::Vertical;
    QScrollBar* bar = vertical ? verticalScrollBar() : horizontalScrollBar();
    int& pos = vertical ? vpos : hpos;
    const int max = vertical ? vmax : hmax;
    const int page = vertical ? std::max(1, VisibleLines()) : 8;
    int step = 0;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub: step = -1; break;
        case QAbstractSlider::SliderSingleStepAdd: step = 1; break;
        case QAbstractSlider::SliderPageStepSub: step = -page; break;
        case QAbstractSlider::SliderPageStepAdd: step = page; break;
        case QAbstractSlider::SliderMove: step = bar->sliderPosition() - pos; break;
        case QAbstractSlider::SliderToMinimum: step = vertical ? -pos : 0; break;
        case QAbstractSlider::SliderToMaximum: step = vertical ? max - pos : 0; break;
        default: break;
    }
    // A step that would pass either end is ignored whole.
    const int old = pos;
    pos = AcceptScrollStep(pos, step, max);
    bar->setSliderPosition(pos);
    if (pos != old) viewport()->update();
}

void DocView::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    const QRect client = viewport()->rect();
    p.fillRect(client, palette().base());
    const Document* doc = frame_.Store().Find(id_);
    if (doc == nullptr) return;
    p.setFont(font_);
    p.setPen(palette().text().color());
    p.setClipRect(client);
    const int ascent = QFontMetrics(font_).ascent();
    const int x = (1 - hpos) * char_width;
    // Line 0 is never shown; line vpos + 1 is at the top.
    const int count = int(doc->lines.size());
    for (int i = std::max(1, vpos + 1); i < count; ++i) {
        const int y = (i - vpos - 1) * line_height;
        if (y >= client.height()) break;
        p.drawText(x, y + ascent, QString::fromUtf8(doc->lines[size_t(i)].c_str()));
    }
}

void DocView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateRanges();
}

// ---- Document window ---------------------------------------------------------------------

DocWindow::DocWindow(Frame& frame, int id) : frame_(frame), view_(new DocView(frame, id)) {
    setWidget(view_);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(GlanceIcon());
}

void DocWindow::closeEvent(QCloseEvent* event) {
    frame_.DocumentClosed(Id());
    QMdiSubWindow::closeEvent(event);
}

// ---- Frame -------------------------------------------------------------------------------

QString Frame::HelpText(int id) {
    for (const HelpEntry& e : kHelp)
        if (e.id == id) return QString::fromLatin1(e.text);
    return {};
}

Frame::Frame() : mdi_(new QMdiArea), status_(nullptr), top_(nullptr) {
    setObjectName(QStringLiteral("glance_frame"));
    setWindowTitle(QStringLiteral("Glance for Kestrel"));
    setWindowIcon(GlanceIcon());
    setAcceptDrops(true);

    LoadViewerSettings(settings_);
    ReadMailPreferences(mail_prefs_);
    // The document font: the stored one, else the fixed-pitch default, recorded so that this
    // start and the next show the same font.
    const QFont fallback = DefaultFixedFont();
    if (settings_.font.Height == 0) settings_.font = LogFontFromFont(fallback);
    font_ = FontFromLogFont(settings_.font, fallback);

    auto* client = new QWidget(this);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    status_ = new StatusPane(client);
    top_ = new TopPane(client, status_, [this](int id) { Command(id); });
    mdi_->setParent(client);
    mdi_->setObjectName(QStringLiteral("MDIClient"));
    layout->addWidget(top_);
    layout->addWidget(mdi_, 1);
    layout->addWidget(status_);
    setCentralWidget(client);

    BuildMenu();
    EnableDocumentItems(false);

    open_dialog = [this](const QString& dir) {
        return QFileDialog::getOpenFileNames(this, QStringLiteral("Open a Benchmark File"), dir,
                                             QStringLiteral("Benchmark Files (*.BMF *.bmf);;ALL FILES (*)"));
    };
    save_dialog = [this](const QString& dir) {
        // The program asks itself before it overwrites a file.
        return QFileDialog::getSaveFileName(this, QStringLiteral("Save a Benchmark File"), dir,
                                            QStringLiteral("Benchmark Files (*.BMF *.bmf);;ALL FILES (*)"),
                                            nullptr, QFileDialog::DontConfirmOverwrite);
    };
    font_dialog = [this](const LogFont& stored, const QFont& shown) { return ChooseFontRecord(stored, shown, this); };
}

Frame::~Frame() {
    // The document windows go first; they refer to the store.
    closing_ = true;
    for (DocWindow* w : Documents()) delete w;
}

void Frame::BuildMenu() {
    auto add = [this](QMenu* menu, int id, const char* text) {
        QAction* a = menu->addAction(QString::fromLatin1(text));
        a->setData(id);
        connect(a, &QAction::triggered, this, [this, id] { Command(id); });
        actions_[id] = a;
        return a;
    };
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MdiMenu"));
    file_menu_ = bar->addMenu(QStringLiteral("&File"));
    add(file_menu_, CMD_OPEN, "&Open BMF files");
    add(file_menu_, CMD_OPEN_REFERENCE, "Open &Benchmark Data");
    add(file_menu_, CMD_CLOSE, "&Close");
    add(file_menu_, CMD_SAVE_AS, "&Save as...");
    file_menu_->addSeparator();
    add(file_menu_, CMD_MAIL, "&Mail");
    add(file_menu_, CMD_MAIL_ALL, "M&ail All");
    file_menu_->addSeparator();
    add(file_menu_, CMD_PRINT, "&Print...");
    add(file_menu_, CMD_PRINT_ALL, "Pr&int All");
    add(file_menu_, CMD_PRINTER_SETUP, "P&rinter setup...");
    file_menu_->addSeparator();
    add(file_menu_, CMD_EXIT, "E&xit");
    // The File menu doubles as the list of document windows.
    connect(file_menu_, &QMenu::aboutToShow, this, [this] { FillWindowList(); });
    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    add(edit, CMD_COPY_ALL, "&Copy All");
    add(edit, CMD_FONT, "&Font");
    QMenu* window = bar->addMenu(QStringLiteral("&Window"));
    add(window, CMD_CASCADE, "&Cascade");
    add(window, CMD_TILE_HORIZONTAL, "&Horizontal Tile");
    add(window, CMD_TILE_VERTICAL, "&Vertical Tile");
    add(window, CMD_ARRANGE_ICONS, "&Arrange Icons");
    add(window, CMD_CLOSE_ALL, "C&lose All");
    add(window, CMD_RESTORE_ALL, "&Restore All");
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    add(help, CMD_HELP_CONTENTS, "&Contents");
    add(help, CMD_USING_HELP, "&Using Help");
    add(help, CMD_ABOUT, "&About");
    for (QMenu* menu : {file_menu_, edit, window, help}) {
        connect(menu, &QMenu::hovered, this, [this](QAction* a) { MenuHovered(a); });
        // A greyed item is never hovered: the pointer over it is watched instead.
        menu->installEventFilter(this);
    }
}

void Frame::FillWindowList() {
    for (QAction* a : window_list_) {
        file_menu_->removeAction(a);
        delete a;
    }
    window_list_.clear();
    const QList<DocWindow*> docs = Documents();
    if (docs.isEmpty()) return;
    window_list_.append(file_menu_->addSeparator());
    QMdiSubWindow* active = mdi_->activeSubWindow();
    int n = 1;
    for (DocWindow* w : docs) {
        QAction* a = file_menu_->addAction(QStringLiteral("&%1 %2").arg(n++).arg(w->windowTitle()));
        a->setCheckable(true);
        a->setChecked(w == active);
        QPointer<DocWindow> target = w;
        connect(a, &QAction::triggered, this, [this, target] {
            if (target) mdi_->setActiveSubWindow(target);
        });
        window_list_.append(a);
    }
}

QAction* Frame::Action(int id) const {
    auto it = actions_.find(id);
    return it != actions_.end() ? it->second : nullptr;
}

void Frame::EnableDocumentItems(bool enabled) {
    for (int id : kDocumentItems)
        if (QAction* a = Action(id)) a->setEnabled(enabled);
}

void Frame::MenuHovered(QAction* action) {
    const int id = action->data().toInt();
    if (!action->isEnabled() && std::find(std::begin(kDisabledHelpItems), std::end(kDisabledHelpItems), id) !=
                                    std::end(kDisabledHelpItems)) {
        status_->SetText(QStringLiteral("This item is disabled"));
        return;
    }
    const QString text = HelpText(id);
    if (!text.isEmpty()) status_->SetText(text);
}

bool Frame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        if (auto* menu = qobject_cast<QMenu*>(watched)) {
            QAction* a = menu->actionAt(static_cast<QMouseEvent*>(event)->position().toPoint());
            if (a != nullptr && !a->isEnabled()) MenuHovered(a);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QList<DocWindow*> Frame::Documents() const {
    QList<DocWindow*> docs;
    for (QMdiSubWindow* w : mdi_->subWindowList(QMdiArea::CreationOrder))
        if (auto* d = dynamic_cast<DocWindow*>(w); d != nullptr && store_.Find(d->Id()) != nullptr) docs.append(d);
    return docs;
}

DocWindow* Frame::TopDocument() const {
    const QList<QMdiSubWindow*> order = mdi_->subWindowList(QMdiArea::StackingOrder);
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        if (auto* d = dynamic_cast<DocWindow*>(*it); d != nullptr && store_.Find(d->Id()) != nullptr) return d;
    return nullptr;
}

DocWindow* Frame::NewDocumentWindow() {
    Document* doc = store_.Create();
    if (doc == nullptr) return nullptr;
    auto* w = new DocWindow(*this, doc->id);
    mdi_->addSubWindow(w);
    // Two thirds of the frame's client area, each new window a title bar lower and further right
    // than the one before.
    w->resize(std::max(200, 2 * mdi_->width() / 3), std::max(150, 2 * mdi_->height() / 3));
    const int step = w->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, w);
    const int k = (store_.Count() - 1) % 8;
    w->move(k * step, k * step);
    w->show();
    w->View()->setFocus();
    newest_ = w;
    EnableDocumentItems(true);
    return w;
}

void Frame::DocumentClosed(int id) {
    store_.Close(id);
    if (closing_) return;
    if (store_.Count() == 0) EnableDocumentItems(false);
}

int Frame::LoadIntoNewWindow(const std::string& path) {
    DocWindow* w = NewDocumentWindow();
    if (w == nullptr) return 1;
    Document* doc = store_.Find(w->Id());
    const ReadResult r = ReadResultFile(path, &doc->fd, &doc->lines);
    if (r == ReadResult::CannotOpen) {
        FileBox("Could not open the file.");
        w->close();
        return 1;
    }
    w->setWindowTitle(QString::fromStdString(path));
    if (r == ReadResult::ReadError) {
        doc->lines.clear();
        FileBox("Error reading data from the disk", kp::Icon::Information);
        return 2;
    }
    if (r == ReadResult::NoMemory) {
        // The command ends here; the window stays, empty, and so do the other documents.
        kp::MessageBox(kp::Owner::Main, "Allocation Error!", "Memory Exception", kp::Icon::Stop);
        return 2;
    }
    w->View()->LinesChanged();
    return 0;
}

bool Frame::OpenResultFile(const std::string& path) { return LoadIntoNewWindow(path) == 0; }

void Frame::DropFiles(const QStringList& paths) {
    const int n = store_.Count();
    if (n >= kMaxDocuments) {
        FileBox(kTooManyWindows);
        return;
    }
    const int f = int(paths.size());
    if (n + 1 + f >= 21) {
        kp::MessageBox(kp::Owner::Main, StrPrintf("Cannot drop %d files into this window (only %d)", f, 19 - n),
                       kFileException, kp::Icon::None);
        return;
    }
    for (const QString& p : paths)
        if (LoadIntoNewWindow(p.toStdString()) == 2) return;
}

void Frame::OpenFiles() {
    const int n = store_.Count();
    if (n >= kMaxDocuments) {
        FileBox(kTooManyWindows);
        return;
    }
    QStringList names = open_dialog(QString::fromStdString(ResultDirectory()));
    if (names.isEmpty()) return;
    if (int(names.size()) > kMaxDocuments - n) {
        FileBox("Can only open 20 windows", kp::Icon::Information);
        names = names.mid(0, kMaxDocuments - n);
    }
    for (const QString& name : names)
        if (LoadIntoNewWindow(name.toStdString()) == 2) return;
}

void Frame::SaveAs() {
    DocWindow* w = dynamic_cast<DocWindow*>(mdi_->activeSubWindow());
    if (w == nullptr) w = TopDocument();
    Document* doc = w != nullptr ? store_.Find(w->Id()) : nullptr;
    if (doc == nullptr) {
        FileBox("No opened file handles.");
        return;
    }
    const QString chosen = save_dialog(QString::fromStdString(ResultDirectory()));
    if (chosen.isEmpty()) return;
    const std::string name = chosen.toStdString();
    int fd = -1;
    SaveResult r = SaveDocumentFile(name, doc->lines, false, &fd);
    if (r == SaveResult::Exists) {
        if (kp::MessageBox(kp::Owner::Main, "File Already Exists!  Overwrite?", kFileException, kp::Icon::Question,
                           kp::Buttons::YesNo) != kp::Answer::Yes)
            return;
        r = SaveDocumentFile(name, doc->lines, true, &fd);
    }
    switch (r) {
        case SaveResult::Saved: break;
        case SaveResult::WriteFailed:
            FileBox("Error Writing data to the file!");
            return;
        case SaveResult::Exists:
        case SaveResult::CannotCreate:
            // Only an existing file is a question; any other failure keeps the document as it is.
            FileBox("Error Writing file!");
            return;
    }
    if (doc->fd >= 0) ::close(doc->fd);
    doc->fd = fd;
    w->setWindowTitle(chosen);
}

void Frame::CopyAll() {
    DocWindow* w = TopDocument();
    const Document* doc = w != nullptr ? store_.Find(w->Id()) : nullptr;
    if (doc == nullptr) return;
    std::string text;
    for (const std::string& line : doc->lines) text += line + "\r\n";
    QGuiApplication::clipboard()->setText(QString::fromUtf8(text.c_str()));
}

void Frame::ChooseFont() {
    const std::optional<LogFont> chosen = font_dialog(settings_.font, font_);
    if (!chosen) return;
    settings_.font = *chosen;
    font_ = FontFromLogFont(settings_.font, DefaultFixedFont());
    for (DocWindow* w : Documents()) w->View()->ApplyFont(font_);
    SaveViewerSettings(settings_);
}

namespace {

// The document windows that are not minimised, and those that are.
QList<QMdiSubWindow*> Windows(const QList<DocWindow*>& docs, bool minimised) {
    QList<QMdiSubWindow*> list;
    for (DocWindow* w : docs)
        if (w->isMinimized() == minimised) list.append(w);
    return list;
}

// Room left above the row of minimised windows.
int IconRowHeight(const QList<DocWindow*>& docs) {
    for (DocWindow* w : docs)
        if (w->isMinimized()) return w->height();
    return 0;
}

}  // namespace

void Frame::Cascade() {
    // Each window a title bar lower and further right than the one before, all of one size that
    // leaves the last one inside the area; the active window ends on top.
    QList<QMdiSubWindow*> shown = Windows(Documents(), false);
    if (shown.isEmpty()) return;
    QMdiSubWindow* active = mdi_->activeSubWindow();
    if (shown.removeOne(active)) shown.append(active);
    const QSize area = mdi_->viewport()->size();
    const int step = shown.first()->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, shown.first());
    const int n = int(shown.size());
    const int width = std::max(200, area.width() - (n - 1) * step);
    const int height = std::max(150, area.height() - IconRowHeight(Documents()) - (n - 1) * step);
    int k = 0;
    for (QMdiSubWindow* w : shown) {
        if (w->isMaximized()) w->showNormal();
        w->setGeometry(k * step, k * step, width, height);
        w->raise();
        ++k;
    }
}

void Frame::TileHorizontally() {
    const QList<DocWindow*> docs = Documents();
    const QList<QMdiSubWindow*> shown = Windows(docs, false);
    if (shown.isEmpty()) return;
    const QSize area = mdi_->viewport()->size();
    const int height = area.height() - IconRowHeight(docs);
    const int each = std::max(1, height / int(shown.size()));
    int y = 0;
    for (QMdiSubWindow* w : shown) {
        if (w->isMaximized()) w->showNormal();
        w->setGeometry(0, y, area.width(), each);
        y += each;
    }
}

void Frame::TileVertically() {
    const QList<DocWindow*> docs = Documents();
    const QList<QMdiSubWindow*> shown = Windows(docs, false);
    if (shown.isEmpty()) return;
    const QSize area = mdi_->viewport()->size();
    const int height = area.height() - IconRowHeight(docs);
    const int each = std::max(1, area.width() / int(shown.size()));
    int x = 0;
    for (QMdiSubWindow* w : shown) {
        if (w->isMaximized()) w->showNormal();
        w->setGeometry(x, 0, each, height);
        x += each;
    }
}

void Frame::ArrangeIcons() {
    const QList<QMdiSubWindow*> icons = Windows(Documents(), true);
    const QSize area = mdi_->viewport()->size();
    int x = 0;
    for (QMdiSubWindow* w : icons) {
        const QSize s = w->size();
        w->move(x, area.height() - s.height());
        x += s.width();
    }
}

void Frame::CloseAll() {
    // The active document first, then the next active one, until none is left.
    while (store_.Count() > 0) {
        QMdiSubWindow* w = mdi_->activeSubWindow();
        if (dynamic_cast<DocWindow*>(w) == nullptr) w = TopDocument();
        if (w == nullptr) break;
        w->close();
    }
}

void Frame::About() {
    if (about_) {
        about_->raise();
        return;
    }
    auto* box = new QDialog(this);
    box->setObjectName(QStringLiteral("ABOUTBOX"));
    box->setWindowTitle(QStringLiteral("About Glance"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setMinimumWidth(280);
    auto* layout = new QHBoxLayout(box);
    auto* icon = new QLabel(box);
    icon->setPixmap(GlanceIcon().pixmap(32, 32));
    icon->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->addWidget(new QLabel(QStringLiteral("Glance for Kestrel "), box));
    texts->addWidget(new QLabel(QStringLiteral("version 1.21 "), box));
    auto* ok = new QPushButton(QStringLiteral("OK"), box);
    connect(ok, &QPushButton::clicked, box, &QDialog::close);
    texts->addWidget(ok, 0, Qt::AlignRight);
    layout->addLayout(texts, 1);
    about_ = box;
    box->show();
}

void Frame::Command(int id) {
    switch (id) {
        case CMD_NEW_DOCUMENT: NewDocumentWindow(); break;
        case CMD_OPEN: OpenFiles(); break;
        case CMD_SAVE_AS: SaveAs(); break;
        case CMD_CLOSE:
            if (DocWindow* w = dynamic_cast<DocWindow*>(mdi_->activeSubWindow())) w->close();
            else if (DocWindow* top = TopDocument()) top->close();
            break;
        case CMD_EXIT: close(); break;
        case CMD_COPY_ALL: CopyAll(); break;
        case CMD_FONT: ChooseFont(); break;
        case CMD_CASCADE: Cascade(); break;
        case CMD_TILE_HORIZONTAL: TileHorizontally(); break;
        case CMD_TILE_VERTICAL: TileVertically(); break;
        case CMD_ARRANGE_ICONS: ArrangeIcons(); break;
        case CMD_CLOSE_ALL: CloseAll(); break;
        case CMD_RESTORE_ALL:
            for (DocWindow* w : Documents()) w->showNormal();
            break;
        case CMD_HELP_CONTENTS: ShowHelpIndex(); break;
        case CMD_USING_HELP: ShowHelpOnHelp(); break;
        case CMD_ABOUT: About(); break;
        case CMD_OPEN_REFERENCE: ShowReferences(); break;
        case CMD_MAIL: OpenMail(false); break;
        case CMD_MAIL_ALL: OpenMail(true); break;
        case CMD_PRINT: Print(false); break;
        case CMD_PRINT_ALL: Print(true); break;
        case CMD_PRINTER_SETUP: PrinterSetup(); break;
        default: break;
    }
}

ReferenceDialog* Frame::References() const { return references_; }
MailDialog* Frame::Mail() const { return mail_; }
Scroller* Frame::Progress() const { return progress_; }

void Frame::ShowReferences() {
    if (references_) {
        references_->raise();
        return;
    }
    references_ = new ReferenceDialog(*this);
    references_->show();
}

void Frame::OpenReferenceRow(int row) {
    if (store_.Count() >= kMaxDocuments) {
        FileBox("Too many windows open!  Close one to view this benchmark data.");
        return;
    }
    if (row < 2 || row >= kReferenceRows) return;
    DocWindow* w = NewDocumentWindow();
    Document* doc = w != nullptr ? store_.Find(w->Id()) : nullptr;
    if (doc == nullptr) return;
    w->setWindowTitle(QString::fromLatin1(kReferenceTitles[row]));
    doc->lines = {kReferenceFirstLine};
    for (std::string& line : ReferenceRowLines(row)) doc->lines.push_back(std::move(line));
    w->View()->LinesChanged();
}

void Frame::OpenMail(bool all) {
    // One mail dialog at a time: an open one comes to the front as it is.
    if (mail_ && TopDocument() != nullptr) {
        mail_->raise();
        mail_->activateWindow();
        return;
    }
    DocWindow* top = TopDocument();
    MailDialog* dialog = MailDialog::Open(*this);
    if (dialog == nullptr) return;
    mail_ = dialog;
    if (!all) return;
    // Every other open document goes into the attachment list by its title.
    for (DocWindow* w : Documents())
        if (w != top) dialog->AddAttachment(w->windowTitle());
}

void Frame::Start(const std::string& file) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen != nullptr ? screen->geometry().size() : QSize(1024, 768);
    if (PlaceFrame(settings_, size.width(), size.height()) == Placement::Stored) {
        PlaceOnScreen(this, QRect(settings_.Left, settings_.Top, settings_.Right, settings_.Bottom));
        show();
    } else {
        setGeometry(200, 150, 800, 600);
        showMaximized();
    }
    // The file opens once the frame has its size, so that its window takes its share of it.
    if (!file.empty()) QTimer::singleShot(0, this, [this, file] { OpenResultFile(file); });
}

void Frame::SaveRectangle() {
    // A maximised frame is stored as the whole screen, so that it opens maximised again.
    if (isMaximized()) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QSize size = screen != nullptr ? screen->geometry().size() : QSize(800, 600);
        settings_.Left = 0;
        settings_.Top = 0;
        settings_.Right = size.width();
        settings_.Bottom = size.height();
    } else {
        settings_.Left = geometry().x();
        settings_.Top = geometry().y();
        settings_.Right = geometry().width();
        settings_.Bottom = geometry().height();
    }
    SaveViewerSettings(settings_);
}

void Frame::SetBusy(bool busy) {
    busy_ = busy;
    if (busy || !close_pending_) return;
    close_pending_ = false;
    QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
}

void Frame::closeEvent(QCloseEvent* event) {
    // The documents being printed or sent stay until the work ends; the close follows then.
    if (busy_) {
        close_pending_ = true;
        event->ignore();
        return;
    }
    SaveRectangle();
    closing_ = true;
    for (DocWindow* w : Documents()) w->close();
    if (about_) about_->close();
    if (mail_) mail_->close();
    if (references_) references_->close();
    CloseProgress();
    if (HelpWindow* help = HelpWindow::Current()) help->close();
    event->accept();
}

void Frame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void Frame::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths.append(url.toLocalFile());
    if (paths.isEmpty()) return;
    event->acceptProposedAction();
    // Taken once the drop itself has ended.
    QMetaObject::invokeMethod(this, [this, paths] { DropFiles(paths); }, Qt::QueuedConnection);
}

}  // namespace glance
