// The viewer's frame: a multi-document window ("glance_frame") with the tool pane at the top
// ("TextTop", nine one-button tool bars "ttwnd"), the documents in the middle and the status pane
// at the bottom ("TextBottom"); and the document windows ("glance_doc").
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QMainWindow>
#include <QMdiSubWindow>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "glance/documents.h"
#include "glance/settings.h"

class QAction;
class QMdiArea;
class QMenu;
class PrintJob;
class Scroller;

namespace glance {

class Frame;
class MailDialog;
class ReferenceDialog;

// The status pane: one line of help text, embossed.
class StatusPane : public QWidget {
public:
    explicit StatusPane(QWidget* parent);
    void SetText(const QString& text);
    QString Text() const { return text_; }
    int PaneHeight() const { return height_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont font_;
    int height_ = 22;
    QString text_;
};

// The text of one document: lines 1 onward (line 0 is never shown), with both scroll bars.
class DocView : public QAbstractScrollArea {
public:
    DocView(Frame& frame, int id);
    int Id() const { return id_; }
    // The shared font changed: measure it again.
    void ApplyFont(const QFont& font);
    // Lines were added or replaced.
    void LinesChanged();

    int vpos = 0, vmax = 0, hpos = 0, hmax = 0;
    int char_width = 8, line_height = 16;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void UpdateRanges();
    void Scroll(Qt::Orientation orientation, int action);
    int VisibleLines() const;

    Frame& frame_;
    int id_;
    QFont font_;
    int widest_ = 0;  // the widest line in pixels
};

// The window of one document; closing it closes the document.
class DocWindow : public QMdiSubWindow {
public:
    DocWindow(Frame& frame, int id);
    DocView* View() const { return view_; }
    int Id() const { return view_->Id(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Frame& frame_;
    DocView* view_;
};

class Frame : public QMainWindow {
public:
    Frame();
    ~Frame() override;

    // Places and shows the frame (stored rectangle or maximised) and opens the file, if any.
    void Start(const std::string& file);

    // Carries out a command of the menu, the tool buttons or the frame's own.
    void Command(int id);
    // Opens one result file in a new document window (command line, drop). False when it could
    // not be read (after its box).
    bool OpenResultFile(const std::string& path);
    // A drop of files onto the frame.
    void DropFiles(const QStringList& paths);

    DocumentStore& Store() { return store_; }
    ViewerSettings& Settings() { return settings_; }
    const QFont& DocumentFont() const { return font_; }
    QMdiArea* Mdi() const { return mdi_; }
    StatusPane* Status() const { return status_; }
    QAction* Action(int id) const;
    // The open document windows, oldest first.
    QList<DocWindow*> Documents() const;
    // The document window at the top of the stacking order; nullptr when none.
    DocWindow* TopDocument() const;
    // The newest document window (command 30); nullptr when none.
    DocWindow* NewestDocument() const { return newest_; }
    // The help text of a command, empty for none.
    static QString HelpText(int id);

    // The reference results: row `row` of the list opens as a new document titled with the row's
    // title (rows 0 and 1 open nothing).
    void OpenReferenceRow(int row);
    ReferenceDialog* References() const;
    MailDialog* Mail() const;

    // The mail settings, read at the start and again whenever mail is composed or sent.
    MailPreferences& MailSettings() { return mail_prefs_; }

    // The progress window of printing and mail ("Scroller"): opened unless it is open, with its
    // caption; the fraction done; closed.
    void OpenProgress(const QString& caption);
    void SetProgress(double fraction);
    void CloseProgress();
    void ShowProgressNow();
    Scroller* Progress() const;

    // Where the socket library of the mail client is loaded from; empty: the program's folder.
    std::string program_directory;

    // The choices a person makes; tests replace them.
    std::function<QStringList(const QString& dir)> open_dialog;
    std::function<QString(const QString& dir)> save_dialog;
    std::function<std::optional<LogFont>(const LogFont& stored, const QFont& shown)> font_dialog;

    // Called by a document window that is closing.
    void DocumentClosed(int id);

    // Printing and sending hold the frame: a close asked for meanwhile (the session ending) is
    // kept and carried out once the work has ended.
    void SetBusy(bool busy);
    bool Busy() const { return busy_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildMenu();
    void FillWindowList();
    void EnableDocumentItems(bool enabled);
    void MenuHovered(QAction* action);
    DocWindow* NewDocumentWindow();
    // Reads a file into a new document window; 0 opened, 1 could not be opened (window closed),
    // 2 a read failure.
    int LoadIntoNewWindow(const std::string& path);
    void OpenFiles();
    void SaveAs();
    void CopyAll();
    void ChooseFont();
    void Cascade();
    void TileHorizontally();
    void TileVertically();
    void ArrangeIcons();
    void CloseAll();
    void About();
    void SaveRectangle();
    void ShowReferences();
    void OpenMail(bool all);
    void PrinterSetup();
    // Print (the top document) or Print All (every document, top down) in one job.
    void Print(bool all);
    bool PrintDocument(PrintJob& job, DocWindow* window);

    ViewerSettings settings_;
    QFont font_;
    DocumentStore store_;
    QMdiArea* mdi_;
    StatusPane* status_;
    QWidget* top_;
    QMenu* file_menu_ = nullptr;
    QList<QAction*> window_list_;
    std::map<int, QAction*> actions_;
    QPointer<DocWindow> newest_;
    QPointer<QWidget> about_;
    MailPreferences mail_prefs_;
    QPointer<Scroller> progress_;
    QPointer<ReferenceDialog> references_;
    QPointer<MailDialog> mail_;
    bool closing_ = false;
    bool busy_ = false;
    bool close_pending_ = false;
};

}  // namespace glance
