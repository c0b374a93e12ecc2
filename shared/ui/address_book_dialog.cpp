#include "shared/ui/address_book_dialog.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/msgbox.h"
#include "shared/mail/address_book.h"
#include "shared/places.h"
#include "shared/strformat.h"
#include "shared/ui/help.h"
#include "shared/ui/mail_form.h"

namespace {

constexpr int kBookHelp = 263;
constexpr int kAddUserHelp = 264;

QPushButton* Button(QWidget* parent, int id, const char* text) {
    auto* b = new QPushButton(QString::fromLatin1(text), parent);
    b->setObjectName(QString::number(id));
    b->setAutoDefault(false);
    return b;
}

void FileBox(const char* text, kp::Icon icon = kp::Icon::Exclamation) {
    kp::MessageBox(kp::Owner::Active, text, "File Exception", icon);
}

}  // namespace

AddressBookDialog::AddressBookDialog(QWidget* owner, std::function<void(const std::string&)> set_to)
    : QDialog(owner), set_to_(std::move(set_to)), path_(AddressBookPath()) {
    setObjectName(QStringLiteral("MAILLIST"));
    setWindowTitle(QStringLiteral("Address Book"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("12"));
    list_->setSelectionMode(QAbstractItemView::MultiSelection);
    auto* buttons = new QVBoxLayout;
    QPushButton* add = Button(this, 10, "Add Address");
    QPushButton* remove = Button(this, 11, "Remove Address");
    QPushButton* all = Button(this, 13, "Select All");
    QPushButton* ok = Button(this, 1, "OK");
    QPushButton* cancel = Button(this, 2, "Cancel");
    QPushButton* help = Button(this, 9, "Help");
    for (QPushButton* b : {ok, cancel, add, remove, all, help}) buttons->addWidget(b);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    resize(460, 260);

    connect(ok, &QPushButton::clicked, this, [this] { Ok(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);
    connect(list_, &QListWidget::itemDoubleClicked, this, [this] { Ok(); });
    connect(all, &QPushButton::clicked, this, [this] { list_->selectAll(); });
    connect(remove, &QPushButton::clicked, this, [this] { Remove(); });
    connect(add, &QPushButton::clicked, this, [this] { (new AddUserDialog(this))->show(); });
    connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kBookHelp); });
    Reload();
}

void AddressBookDialog::Reload() {
    MakeDirectories(DefaultInstallDirectory());
    switch (mail::ReadAddressBook(path_, &entries_, true)) {
        case mail::BookRead::Read: break;
        case mail::BookRead::Created: FileBox("No Database file.  Creating New File.", kp::Icon::Information); break;
        case mail::BookRead::CreateFailed:
            FileBox("No Database file.  Creating New File.", kp::Icon::Information);
            FileBox("Error Creating Database File!", kp::Icon::Stop);
            break;
        case mail::BookRead::ReadFailed: FileBox("Cannot read the data from the email addresses file"); break;
    }
    mail::SortEntries(&entries_);
    ShowEntries();
}

void AddressBookDialog::ShowEntries() {
    list_->clear();
    for (const std::string& e : entries_) list_->addItem(MailFromUtf8(e));
}

void AddressBookDialog::AddEntry(const std::string& entry) {
    entries_.push_back(entry);
    mail::SortEntries(&entries_);
    ShowEntries();
    if (!mail::AppendAddressBookEntry(path_, entry)) FileBox("Error writing data");
}

void AddressBookDialog::Ok() {
    std::vector<std::string> chosen;
    for (int i = 0; i < list_->count(); ++i)
        if (list_->item(i)->isSelected()) chosen.push_back(entries_[size_t(i)]);
    // One or none selected: the current entry.
    if (chosen.size() < 2) {
        chosen.clear();
        if (list_->currentRow() >= 0) chosen.push_back(entries_[size_t(list_->currentRow())]);
    }
    if (!chosen.empty() && set_to_) set_to_(mail::JoinAddresses(chosen));
    close();
}

bool AddressBookDialog::Rewrite() {
    if (mail::RewriteAddressBook(path_, entries_)) return true;
    FileBox("Error Erasing data", kp::Icon::Stop);
    Reload();
    return false;
}

void AddressBookDialog::Remove() {
    std::vector<int> selected;
    for (int i = 0; i < list_->count(); ++i)
        if (list_->item(i)->isSelected()) selected.push_back(i);
    if (selected.size() < 2) {
        const int row = list_->currentRow();
        if (row < 0) {
            kp::MessageBox(kp::Owner::Active, "Select an Address first, then press the Remove Address button",
                           "Mail Exception!", kp::Icon::Information);
            return;
        }
        const std::string entry = entries_[size_t(row)];
        if (kp::MessageBox(kp::Owner::Active, StrPrintf("Remove user:  %s from the address book?", entry.c_str()),
                           "Kestrel", kp::Icon::Question, kp::Buttons::YesNo) != kp::Answer::Yes)
            return;
        entries_.erase(entries_.begin() + row);
        ShowEntries();
        Rewrite();
        return;
    }
    // Several: each in list order, its index lowered by the entries already removed.
    int removed = 0;
    for (int index : selected) {
        const size_t at = size_t(index - removed);
        const std::string entry = entries_[at];
        const kp::Answer a = kp::MessageBox(kp::Owner::Active,
                                            StrPrintf("Remove user:  %s from the address book?", entry.c_str()),
                                            "Kestrel", kp::Icon::Question, kp::Buttons::YesNoCancel);
        if (a == kp::Answer::Cancel) break;
        if (a != kp::Answer::Yes) continue;
        entries_.erase(entries_.begin() + long(at));
        ++removed;
        if (!Rewrite()) return;
    }
    ShowEntries();
}

AddUserDialog::AddUserDialog(AddressBookDialog* book) : QDialog(book), book_(book) {
    setObjectName(QStringLiteral("ADDUSER"));
    setWindowTitle(QStringLiteral("Add User"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    address_ = new QLineEdit(this);
    address_->setObjectName(QStringLiteral("10"));
    address_->setMaxLength(255);
    nick_ = new QLineEdit(this);
    nick_->setObjectName(QStringLiteral("11"));
    nick_->setMaxLength(255);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("E-mail Address:"), address_);
    form->addRow(QStringLiteral("Nickname:"), nick_);
    auto* buttons = new QHBoxLayout;
    QPushButton* ok = Button(this, 1, "OK");
    QPushButton* cancel = Button(this, 2, "Cancel");
    QPushButton* help = Button(this, 9, "Help");
    ok->setDefault(true);
    buttons->addStretch();
    for (QPushButton* b : {ok, cancel, help}) buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    resize(380, 120);
    connect(ok, &QPushButton::clicked, this, [this] {
        const std::string entry =
            mail::MakeEntry(address_->text().toUtf8().toStdString(), nick_->text().toUtf8().toStdString());
        if (!entry.empty()) book_->AddEntry(entry);
        address_->clear();
        nick_->clear();
        close();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);
    connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kAddUserHelp); });
}
