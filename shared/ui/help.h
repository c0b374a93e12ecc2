// Help: a window showing the suite's HTML pages (data/help, built into each program that links
// this) at the topic of a context number. data/help/contexts.txt maps the numbers to pages. The
// window carries the program's icon (QApplication::windowIcon).
#pragma once

#include <QString>
#include <QWidget>
#include <map>

class QTextBrowser;

// The page (with its anchor) of each context number in a map text: one "<number> <page>" per
// line; blank lines and lines starting with '#' are skipped.
std::map<int, QString> ParseHelpContexts(const QString& text);
// The page of a context number; the index for a number without a page.
QString HelpPageOfContext(int context);

class HelpWindow : public QWidget {
public:
    // Shows the one help window at the page ("page.html" or "page.html#anchor").
    static HelpWindow* Show(const QString& page);
    static HelpWindow* Current();
    QTextBrowser* browser() const { return browser_; }
    // The page shown (its file name and anchor).
    QString Page() const;

private:
    HelpWindow();
    QTextBrowser* browser_;
};

inline constexpr const char* kHelpIndexPage = "index.html";
inline constexpr const char* kHelpOnHelpPage = "using.html";

// The help menus: the index, help on help, and the topic of a window's context number.
void ShowHelpIndex();
void ShowHelpOnHelp();
void ShowHelpContext(int context);
