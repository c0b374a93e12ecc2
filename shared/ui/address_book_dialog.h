// The address book window (MAILLIST) and its Add User window (ADDUSER), shared by the mail
// dialogs of kestrel and glance. Controls are named by their numbers ("12" the list, "10" Add
// Address, ...). The list shows userfile.dbf sorted without regard to case; every change is
// written to the file at once.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QListWidget;
class QLineEdit;

class AddUserDialog;

class AddressBookDialog : public QDialog {
public:
    // set_to replaces the mail dialog's To text. Reads the file; nullptr-safe to show.
    AddressBookDialog(QWidget* owner, std::function<void(const std::string&)> set_to);

    QListWidget* list() const { return list_; }
    const std::vector<std::string>& entries() const { return entries_; }
    // Adds an entry (Add User's OK): into the list and at the end of the file.
    void AddEntry(const std::string& entry);

private:
    void Reload();
    void Ok();
    void Remove();
    void ShowEntries();
    bool Rewrite();

    std::function<void(const std::string&)> set_to_;
    std::string path_;
    std::vector<std::string> entries_;  // the list's entries in its order
    QListWidget* list_;
};

class AddUserDialog : public QDialog {
public:
    explicit AddUserDialog(AddressBookDialog* book);
    QLineEdit* address() const { return address_; }
    QLineEdit* nick() const { return nick_; }

private:
    AddressBookDialog* book_;
    QLineEdit* address_;
    QLineEdit* nick_;
};
