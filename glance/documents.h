// The viewer's documents without their windows: twenty slots with ids 100 to 119, the lines of
// each, reading a result file into lines and writing lines back, and the scrolling rules of a
// document window.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace glance {

inline constexpr int kMaxDocuments = 20;
inline constexpr int kFirstDocumentId = 100;

struct Document {
    int id = 0;
    int fd = -1;                     // the document's file, -1 for none
    std::vector<std::string> lines;  // line 0 is kept, saved and copied but never shown
};

class DocumentStore {
public:
    DocumentStore() = default;
    DocumentStore(const DocumentStore&) = delete;
    DocumentStore& operator=(const DocumentStore&) = delete;
    ~DocumentStore();

    // A new empty document with the lowest free id; nullptr when twenty are open.
    Document* Create();
    // Empties the document, closes its file and frees its id. Ids of no open document are ignored.
    void Close(int id);
    // The open document of an id; nullptr for any other number.
    Document* Find(int id);
    const Document* Find(int id) const;
    int Count() const;

private:
    std::array<std::optional<Document>, kMaxDocuments> slots_;
};

// Opens a result file for reading only and reads it whole into lines (SplitReportLines). Anything
// but a regular file (a folder, a FIFO, a device) cannot be opened. NoMemory: the file is too
// large to be held (no lines).
enum class ReadResult { Ok, CannotOpen, ReadError, NoMemory };
ReadResult ReadResultFile(const std::string& path, int* fd, std::vector<std::string>* lines);

// Save as: the lines are written to a new file beside the target (created exclusively), synced,
// and then given the target's name, so that a failed save leaves an existing file as it was and no
// partial file behind. Without `replace` an existing name is Exists and nothing is written; with
// it a regular file (or the one a link names) is replaced, keeping its permissions, and anything
// else cannot be. CannotCreate: the new file could not be made; WriteFailed: writing, syncing or
// renaming failed. On Saved *fd is the saved file, open for writing.
enum class SaveResult { Saved, Exists, CannotCreate, WriteFailed };
SaveResult SaveDocumentFile(const std::string& path, const std::vector<std::string>& lines, bool replace, int* fd);

// A scroll step is taken only when it stays within 0..max; otherwise the position stays.
int AcceptScrollStep(int pos, int step, int max);
// The last vertical position: the shown lines (all but line 0) less the lines the window holds.
int VerticalScrollMax(int line_count, int visible_lines);
// The last horizontal position (in average character widths) that brings the end of the widest
// line into a client of the given width; lines start one character width in.
int HorizontalScrollMax(int widest_pixels, int client_width, int char_width);

}  // namespace glance
