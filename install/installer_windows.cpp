#include "install/installer_windows.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

#include "install/setup_pictures.h"
#include "install/setup_rules.h"

// The full-screen blue backdrop: the product name three times, the subtitle and our picture.
Backdrop::Backdrop(const QString& title) {
    setWindowTitle(title);
    setAttribute(Qt::WA_OpaquePaintEvent);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    large_ = screen.width() > 800;
    setGeometry(screen);
    picture_ = BackdropPicture(large_);
    title_ = QFont("Times");
    title_.setStyleHint(QFont::Serif);
    title_.setPixelSize(large_ ? 120 : 100);
    title_.setWeight(QFont::ExtraBold);
    title_.setItalic(true);
    subtitle_ = QFont("Arial");
    subtitle_.setStyleHint(QFont::SansSerif);
    subtitle_.setPixelSize(large_ ? 55 : 45);
    subtitle_.setWeight(QFont::DemiBold);
    subtitle_.setItalic(true);
}

void Backdrop::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 255));
    p.setFont(title_);
    const int ascent = QFontMetrics(title_).ascent();
    const struct {
        int offset;
        QColor colour;
    } copies[] = {{2, Qt::black}, {6, QColor(0x7F, 0x7F, 0x7F)}, {10, QColor(255, 0, 0)}};
    for (const auto& c : copies) {
        p.setPen(c.colour);
        p.drawText(c.offset, c.offset + ascent, "Kestrel 1.21");
    }
    p.setFont(subtitle_);
    p.setPen(QColor(255, 255, 0));
    const int titleWidth = large_ ? 45 : 35, titleHeight = large_ ? 120 : 100, subHeight = large_ ? 55 : 45;
    p.drawText(12 * titleWidth + 70, titleHeight - subHeight + 10 + QFontMetrics(subtitle_).ascent(), "For Win32");
    p.drawImage((width() - picture_.width()) / 2, (height() - picture_.height()) / 2, picture_);
}

void Backdrop::closeEvent(QCloseEvent* e) {
    QWidget::closeEvent(e);
    if (onClose) onClose();
}

// The progress bar of the carrying-over and progress dialogs: grey to the fraction, white after
// it, the percentage in the middle.
ProgressBar::ProgressBar(const double* fraction) : fraction_(fraction) {
    setMinimumSize(320, 24);
    setObjectName("bar");
}

void ProgressBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int w = width();
    const int f = std::min(w, int(w * *fraction_) + 1);
    p.fillRect(0, 0, f, height(), QColor(128, 128, 128));
    p.fillRect(f, 0, w - f, height(), Qt::white);
    p.setPen(Qt::black);
    p.drawText(rect(), Qt::AlignCenter, QString::fromStdString(PercentText(*fraction_)));
}

QPushButton* AddButton(QHBoxLayout* row, const char* text, const char* name, std::function<void()> handler) {
    auto* b = new QPushButton(text);
    b->setObjectName(name);
    row->addWidget(b);
    QObject::connect(b, &QPushButton::clicked, b, [handler] { handler(); });
    return b;
}

QPushButton* AddCancelButton(InstallerDialog* d, QHBoxLayout* row, const char* text, const char* name,
                             std::function<void()> handler) {
    d->cancel = handler;
    return AddButton(row, text, name, std::move(handler));
}

void Centre(QWidget* w) {
    w->adjustSize();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    w->move(screen.center() - QPoint(w->width() / 2, w->height() / 2));
}

// Lets the window system see the changed windows without taking any input.
void ShowNow(QWidget* w) {
    if (w != nullptr) w->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void InstallerDialog::reject() {
    if (closing_ || (!cancel && !stands)) {
        QDialog::reject();
        return;
    }
    if (cancel) cancel();  // Escape: the cancel-type button's answer (which may close the dialog)
}

void InstallerDialog::closeEvent(QCloseEvent* e) {
    if (e->spontaneous() && (cancel || stands)) {
        // The window manager's close: answered as Escape is, never a close without an answer. The
        // answer comes once this close has been refused, so that an answer that closes the dialog
        // can.
        // A close that comes again before the answer (the close button pressed twice) adds none.
        e->ignore();
        if (cancel && !answerPending_) {
            answerPending_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    answerPending_ = false;
                    if (cancel) cancel();
                },
                Qt::QueuedConnection);
        }
        return;
    }
    closing_ = true;  // the program's own close (a button's answer, or the program's end)
    QDialog::closeEvent(e);
    closing_ = false;
}

// A modeless dialog of the chain: a caption, a text, then the caller's controls and buttons.
InstallerDialog* NewDialog(QWidget* owner, const char* name, const char* caption, const QString& text) {
    auto* d = new InstallerDialog(owner);
    d->setObjectName(name);
    d->setWindowTitle(caption);
    d->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(d);
    if (!text.isEmpty()) {
        auto* label = new QLabel(text);
        label->setWordWrap(true);
        label->setMinimumWidth(360);
        label->setObjectName("text");
        layout->addWidget(label);
    }
    return d;
}

QHBoxLayout* ButtonRow(QDialog* d) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    static_cast<QVBoxLayout*>(d->layout())->addLayout(row);
    return row;
}


DialogList::~DialogList() {
    for (auto& d : dialogs_)
        if (d) delete d.data();
}

QDialog* DialogList::Open(const QString& name) const {
    for (const auto& d : dialogs_)
        if (d && d->isVisible() && d->objectName() == name) return d.data();
    return nullptr;
}

void DialogList::HideAll() {
    for (auto& d : dialogs_)
        if (d) d->hide();
}
