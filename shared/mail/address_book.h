// The address book userfile.dbf that kestrel and glance share (its place: AddressBookPath() in
// shared/places.h). Plain 8-bit text, one entry per line ended by CR LF: the address, a blank and
// the nickname in parentheses. Every read, append and rewrite opens the file by name at that
// moment; the dialogs keep no handle.
#pragma once

#include <string>
#include <vector>

namespace mail {

enum class BookRead {
    Read,          // the entries were read
    Created,       // the file was missing and has been created empty
    CreateFailed,  // missing, and it could not be created
    ReadFailed,    // it exists but could not be read
};

// The entries of the file: the text before each LF, without the CR in front of it. Text after the
// last LF is no entry (a rewrite keeps it, an append ends it first). A missing file is created
// empty when create_missing is set.
BookRead ReadAddressBook(const std::string& path, std::vector<std::string>* entries, bool create_missing);
// Appends entry and CR LF at the end; a last line without its CR LF is ended first, so the two
// never run together. The file is written anew as a rewrite is, so a failure leaves it whole.
// False on a failed write.
bool AppendAddressBookEntry(const std::string& path, const std::string& entry);
// Replaces the file by entries, each followed by CR LF, and the unended text after the last LF
// of the old file; written to a temporary file beside it and renamed over it, so a failure
// leaves the old file whole. False on failure.
bool RewriteAddressBook(const std::string& path, const std::vector<std::string>& entries);

// An entry: address, " (", nickname, ")". Empty when the address is empty.
std::string MakeEntry(const std::string& address, const std::string& nickname);
// The address of an entry: its first blank-delimited word, at most 99 characters.
std::string AddressOfEntry(const std::string& entry);
// The addresses of entries joined by ", ".
std::string JoinAddresses(const std::vector<std::string>& entries);
// The list's order: by text, without regard to case (ties by bytes).
void SortEntries(std::vector<std::string>* entries);

}  // namespace mail
