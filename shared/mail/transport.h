// The two transports of a composed message: the SMTP client, which talks to the server through
// the socket library libkestrel.so loaded by name from the program's folder for each message,
// and the desktop's mail composer (xdg-email). Both run on the user-interface thread, show their
// own boxes, and are shared by kestrel and glance.
#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace mail {

inline constexpr const char* kSocketLibrary = "libkestrel.so";

// What the mail dialog hands over.
struct Message {
    std::string to;       // recipients: separated by blanks, commas, tabs or line breaks
    std::string from;     // the From field
    std::string cc;
    std::string subject;
    std::string body;     // report text, signature and attachment blocks
    bool fileIsAttached = false;
    std::string attached_files;  // the Attachments text, for the X-Attachment header
};

// The mail preferences as the settings store reads them again for each message.
struct MailSettings {
    int code = 0;  // the settings reader's result: 0, 4, 5 and 6 let the mail go
    std::string smtp_host;  // "host" or "host:port"
    std::string sender;     // "address" or "address (Real Name)"
};

// The program around the transports.
struct MailHost {
    std::string mailer = "Kestrel";  // X-Info and X-Mailer: "<mailer> version <version>"
    std::string version = "1.21";
    std::string library_folder;       // where libkestrel.so is loaded from
    // The sender: kestrel's rule lets a stored Sender win (the From field is taken, and stored,
    // only when none is stored); the viewer's lets a non-empty From field replace it.
    bool from_replaces_sender = false;
    std::function<MailSettings()> read_settings;
    std::function<void(const std::string&)> store_sender;  // a From that became the Sender
    std::function<void()> open_preferences;
    std::function<void(const std::string&)> set_title;     // the mail dialog's caption
    std::function<void(const std::string&)> set_status;    // the status line
    std::function<void(const std::string&)> open_progress;
    std::function<void(double)> set_progress;
    std::function<void()> close_progress;
    std::function<void()> pump;  // handles pending input while a transport waits
    // Asked while the SMTP client waits for the server: true ends the send (nothing more is
    // sent, the connection is closed, no failure box) and the status line says kSendCancelled.
    std::function<bool()> cancelled;
    // True when an interface other than loopback is up: tells "no network" from "wrong server"
    // after a failed connect, without any traffic.
    std::function<bool()> network_up;
};

inline constexpr const char* kSendCancelled = "Sending cancelled: the message was not sent.";

bool NetworkInterfaceUp();

// Sends by SMTP: 0 sent; -1 not sent (a box was shown).
int mainmail(const Message& message, const MailHost& host);

// Hands subject and body to the desktop's mail composer (xdg-email): 0 handed over (or refused
// by the composer, after "Message Not Sent!"); 2 no composer found (after the same box).
int DoMapiMail(const Message& message, const MailHost& host);

// The Date header's value for a moment: English day and month names and the local zone as a
// number ("Wed, 09 Dec 2026 18:30:39 +0100").
std::string MailDate(time_t when);

// The envelope's address in a Sender text "address (Real Name)": its first word.
std::string EnvelopeAddress(const std::string& sender);

}  // namespace mail
