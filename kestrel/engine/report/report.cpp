#include "kestrel/engine/report/report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/run/host.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "platform/msgbox.h"
#include "platform/pages.h"
#include "platform/ui_thread.h"
#include "shared/file_text.h"
#include "shared/report_lines.h"

ReportText report;

namespace {

ReportReader g_reader = nullptr;

void FileBox(const char* text, const char* caption) {
    kp::MessageBox(kp::Owner::Main, text, caption, kp::Icon::Exclamation);
}

// Set while a file is being read and its lines made.
bool g_loading = false;
// How much of a loaded text's lines are made between two repaints of the windows.
constexpr size_t kLinesRepaintStep = size_t(4) << 20;

// Appends the line itself (on the user-interface thread).
int AppendLine(std::string&& text) {
    report.szGreeting.push_back(std::move(text));
    report.num = int(report.szGreeting.size());
    Host().ReportAppended(run.testrunning != 0);
    return 1;
}

}  // namespace

int output_string(const std::string& text) {
    if (!kp::OnUiThread()) {
        kp::DeferToUiThread([text] { output_string(text); });
        return 0;
    }
    return AppendLine(std::string(text));
}

int passtring(const std::string& text) { return output_string(text); }

void output_bottomtext_buffer(const std::string& text) {
    report.text_cpu_line.push_back(text);
    report.num_text_lines = int(report.text_cpu_line.size());
}

void strcat_bottomtext_buffer(const std::string& text, int index) {
    if (index < 0 || index >= int(report.text_cpu_line.size())) return;
    report.text_cpu_line[size_t(index)] += text;
}

void ClearReportLines() {
    report.szGreeting.clear();
    report.num = 0;
    report.headernum = 0;
    report.y = 0;
    Host().ReportCleared();
}

void ClearBottomText() {
    report.text_cpu_line.clear();
    report.num_text_lines = 0;
    report.temp_text_lines = 0;
}

void SetReportReader(ReportReader reader) { g_reader = reader; }

bool LoadingReportFile() { return g_loading; }

void CloseReportFile() {
    if (report.theFile >= 0) close(report.theFile);
    report.theFile = -1;
}

int OpenLineFile() {
    GetRegEntry();
    results.last_memory_load_value = prefs.memory_load_value;

    // Nothing is ever written through the shown file: it is opened for reading only, so a file
    // on read-only media or of another user is shown too.
    int fd = open(report.FileName.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st{};
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        FileBox("Could not open the file.", "File Exception");
        return 1;
    }
    CloseReportFile();
    report.theFile = fd;

    ClearReportLines();
    report.isnew = 0;
    report.headernum = 0;
    report.y = 0;
    report.num = 0;

    // The file is read once, into one buffer, which the reader is given and which goes back
    // afterwards; the windows stay painted during a long read. The reader's progress window
    // stands from before the read, drawn, so that a long read shows its sign of work.
    std::string text;
    g_loading = true;
    if (g_reader != nullptr) {
        Host().OpenProgress(kProcessingDataCaption);
        Host().SetProgress(0);
        Host().ShowProgressDrawn();
    }
    const FileText read = ReadFileText(fd, &text, [] { Host().RepaintDuringRead(); });
    if (read != FileText::Ok) {
        g_loading = false;
        if (g_reader != nullptr) Host().CloseProgress();
    }
    if (read == FileText::NoMemory) {
        passtring("Out of Memory");
        FileBox("Allocation Error!", "Memory Exception");
        return 1;
    }
    if (read == FileText::ReadFailed) {
        FileBox("Error loading data from the file", "File Exception");
        return 1;
    }

    report.CurrentFile = report.FileName;
    Host().SetReportTitle(report.CurrentFile);

    // Each line is made once, from the text. A line is text up to its first NUL byte, as the pane
    // shows it: what follows a NUL up to the line end is not kept (a damaged file of NULs costs
    // no second copy of itself). The lines of a long file take longer than its read: the windows
    // go on being repainted between steps of the text, as between the read's.
    const char* const start = text.data();
    size_t repaint_at = kLinesRepaintStep;
    ForEachReportLine(text.data(), text.size(), [start, &repaint_at](const char* begin, size_t length) {
        AppendLine(std::string(begin, strnlen(begin, length)));
        if (size_t(begin - start) >= repaint_at) {
            repaint_at = size_t(begin - start) + kLinesRepaintStep;
            Host().RepaintDuringRead();
        }
    });
    g_loading = false;
    if (g_reader != nullptr) g_reader(&text);

    std::string().swap(text);
    kp::TrimHeap();
    Host().ReportAppended(false);
    Host().EnableCommand(CMD_SAVE, false);
    Host().EnableCommand(CMD_SAVE_AS, true);
    Host().EnableCommand(CMD_PRINT, true);
    Host().EnableCommand(CMD_MAIL, true);
    Host().EnableCommand(CMD_CLOSE, true);
    return 0;
}
