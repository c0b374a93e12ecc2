// The text of a message: the report lines, the signature file and the attachment blocks.
// Failures are shown as boxes here.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mail {

// Every line followed by CR LF.
std::string ReportBody(const std::vector<std::string>& lines);
// Appends the whole signature file unchanged. Shows "Could not open file %s for read" (false) or
// "Error reading data from signature file".
bool AppendSignature(const std::string& path, std::string* body);
// The paths of an Attachments text, split at "; ". A capped list holds at most 25 paths that end
// within its first 15000 characters; the paths past either limit (whole) are left out.
inline constexpr size_t kAttachmentsMax = 25;
inline constexpr size_t kAttachmentTextMax = 15000;
struct Attachments {
    std::vector<std::string> paths;
    std::vector<std::string> left_out;
};
Attachments SplitAttachments(const std::string& text, bool capped);
// Before anything is sent: a box naming the paths that are not attached (none for none).
void SayLeftOut(const std::vector<std::string>& left_out);

enum class AttachHeader { Smtp, Desktop };  // "X-Attachment:" or "NT-Attachment:"
// Appends the Follow line, one numbered block per path and the End line (nothing for no paths).
// A file that cannot be opened, or not held in memory, shows its box and returns false (nothing
// to send); one that cannot be read is skipped after its box. keep_unended_last_line: a file's
// text after its last LF goes with it (both programs send it), else it is left out. `attached`
// (when given) gets the paths whose blocks were appended, joined by "; ".
bool AppendAttachments(const std::vector<std::string>& paths, AttachHeader header, bool keep_unended_last_line,
                       std::string* body, std::string* attached = nullptr);
// The text of a name that is not a file but a document of the program (the viewer's reference
// results by their titles); nothing for a file's path.
using DocumentText = std::function<std::optional<std::string>(const std::string& name)>;
// The same, with the names that `document` knows attached as those documents' texts.
bool AppendAttachments(const std::vector<std::string>& paths, AttachHeader header, bool keep_unended_last_line,
                       const DocumentText& document, std::string* body, std::string* attached = nullptr);

}  // namespace mail
