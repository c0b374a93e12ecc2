#include "shared/ui/help.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "shared/ui/screen_place.h"

namespace {

QPointer<HelpWindow> g_help;

const std::map<int, QString>& Contexts() {
    static const std::map<int, QString> map = [] {
        QFile f(QStringLiteral(":/help/contexts.txt"));
        return f.open(QIODevice::ReadOnly) ? ParseHelpContexts(QString::fromUtf8(f.readAll()))
                                           : std::map<int, QString>();
    }();
    return map;
}

}  // namespace

std::map<int, QString> ParseHelpContexts(const QString& text) {
    std::map<int, QString> map;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        bool ok = false;
        const int number = words.value(0).toInt(&ok);
        if (ok && words.size() == 2) map[number] = words[1];
    }
    return map;
}

QString HelpPageOfContext(int context) {
    const auto& map = Contexts();
    const auto it = map.find(context);
    return it != map.end() ? it->second : QString::fromLatin1(kHelpIndexPage);
}

HelpWindow::HelpWindow() : QWidget(nullptr, Qt::Window), browser_(new QTextBrowser(this)) {
    setWindowTitle(QStringLiteral("Kestrel Help"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    browser_->setOpenExternalLinks(true);
    resize(560, 480);
}

HelpWindow* HelpWindow::Show(const QString& page) {
    if (g_help.isNull()) {
        g_help = new HelpWindow;
        // A new window opens in the middle of the screen of the window that asked for it.
        const QWidget* asking = QApplication::activeWindow();
        const QRect area = AvailableArea(asking != nullptr ? asking->frameGeometry() : QRect());
        QRect at(QPoint(0, 0), g_help->size());
        at.moveCenter(area.center());
        PlaceOnScreen(g_help, at);
    }
    g_help->browser_->setSource(QUrl(QStringLiteral("qrc:/help/") + page));
    g_help->show();
    g_help->raise();
    g_help->activateWindow();
    return g_help;
}

HelpWindow* HelpWindow::Current() { return g_help; }

QString HelpWindow::Page() const {
    QString page = browser_->source().toString();
    return page.startsWith(QStringLiteral("qrc:/help/")) ? page.mid(10) : page;
}

void ShowHelpIndex() { HelpWindow::Show(QString::fromLatin1(kHelpIndexPage)); }
void ShowHelpOnHelp() { HelpWindow::Show(QString::fromLatin1(kHelpOnHelpPage)); }
void ShowHelpContext(int context) { HelpWindow::Show(HelpPageOfContext(context)); }
