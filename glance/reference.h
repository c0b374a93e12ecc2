// The reference results: the dialog "SCORES" that lists the reference machines, and the report of
// each as a document.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QListWidget;

namespace glance {

class Frame;

inline constexpr int kReferenceRows = 22;
// The list's rows: a heading, a rule, then the twenty reference systems.
extern const char* const kReferenceTitles[kReferenceRows];
// The first line of every reference document (kept, printed, copied and mailed, never shown).
inline constexpr const char* kReferenceFirstLine = "Kestrel Results for the database of";

// The report lines of a row (rows 0 and 1, and any number outside the list, have none). Rows 2
// to 7 show the baseline machine's reports of this system's kind (there is no Windows 95 here).
std::vector<std::string> ReferenceRowLines(int row);
// True for the title of a reference system (rows 2 to 21).
bool IsReferenceTitle(const std::string& name);

// The modeless dialog: a double-click on a row opens that system's report as a new document.
class ReferenceDialog : public QDialog {
public:
    explicit ReferenceDialog(Frame& frame);
    QListWidget* list() const { return list_; }

private:
    QListWidget* list_;
};

}  // namespace glance
