// The SMTP client over the socket library: one session per message, from loading the library to
// closing the connection and freeing it again.
#include <dlfcn.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <pwd.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/msgbox.h"
#include "shared/mail/transport.h"
#include "shared/strformat.h"

namespace mail {

namespace {

using ConnectFn = int (*)(const char*, const char*, int*);
using MajorWindowFn = int (*)(void*);
using GetcharFn = int (*)(int, int, char*);
using PutDataFn = int (*)(int, const char*, int);
using CloseFn = int (*)(int);
using HostnameFn = int (*)(char*, int, char (*)[512], char*, int, int*);
using FlushFn = int (*)(int);
using SetWaitHookFn = void (*)(int (*)(void*), void*);

constexpr int kErrClosed = 4016;
constexpr int kErrNoService = 4014;
constexpr size_t kReplyLineMax = 255;
constexpr int kReplyLinesMax = 1000;

// A header value on one line: carriage returns and line feeds are taken out.
std::string OneLine(const std::string& text) {
    std::string s;
    for (char c : text)
        if (c != '\r' && c != '\n') s += c;
    return s;
}

std::string UserName() {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr) return pw.pw_name;
    const char* user = std::getenv("USER");
    return user != nullptr ? user : "";
}

bool Is7Bit(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

std::string Base64(const std::string& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? uint8_t(bytes[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

// Header lines that hold encoded words stay within 76 octets: a word carries at most 39 bytes
// of text (64 octets in all), so "Subject: " and a word fit on one line.
constexpr size_t kEncodedLineMax = 76;
constexpr size_t kWordBytes = 39;

// The text as UTF-8 encoded words, each further word on a line of its own (CR LF and a blank
// before it). A word ends at a character's end, so every word decodes by itself.
std::string EncodedWords(const std::string& text) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(text.size(), start + kWordBytes);
        if (end < text.size()) {
            size_t e = end;
            while (e > start && (uint8_t(text[e]) & 0xC0) == 0x80) --e;
            if (e > start) end = e;
        }
        if (!out.empty()) out += "\r\n ";
        out += "=?UTF-8?B?" + Base64(text.substr(start, end - start)) + "?=";
        start = end;
    }
    return out;
}

// An unstructured value (the subject): as it is in ASCII, else encoded words.
std::string UnstructuredValue(const std::string& text) { return Is7Bit(text) ? text : EncodedWords(text); }

// The From value. A sender "address (Real Name)" or "Real Name <address>" whose name is not
// ASCII goes out as "<encoded name> <address>", the form readers take the name from (a comment
// is not shown by all of them); anything else, ASCII senders above all, as it is.
std::string FromValue(const std::string& sender) {
    if (Is7Bit(sender)) return sender;
    std::string address;
    std::string name;
    const size_t open = sender.find('<');
    const size_t close = sender.rfind('>');
    if (open != std::string::npos && close != std::string::npos && open < close) {
        address = Trimmed(sender.substr(open + 1, close - open - 1));
        name = Trimmed(sender.substr(0, open));
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    } else {
        address = EnvelopeAddress(sender);
        name = Trimmed(sender.substr(sender.find(address) + address.size()));
        if (name.size() >= 2 && name.front() == '(' && name.back() == ')') name = Trimmed(name.substr(1, name.size() - 2));
    }
    if (address.empty() || name.empty() || Is7Bit(name) || !Is7Bit(address)) return sender;
    std::string value = EncodedWords(name);
    const size_t line_start = value.rfind('\n');
    const size_t last_line = (line_start == std::string::npos ? std::strlen("From: ") + value.size()
                                                               : value.size() - line_start - 1);
    value += (last_line + address.size() + 3 <= kEncodedLineMax ? " <" : "\r\n <") + address + ">";
    return value;
}

// The attachment list, one path a line: each further path after CR LF and a blank, so that the
// unfolded header is the list again. A path too long for a line of its own (a line holds at
// most 998 octets) is named by ".../" and its file name; the block in the text names it whole.
constexpr size_t kAttachmentPathMax = 900;
std::string AttachmentValue(const std::string& list) {
    std::string out;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find("; ", start);
        if (end == std::string::npos) end = list.size();
        std::string path = list.substr(start, end - start);
        if (path.size() > kAttachmentPathMax) {
            const size_t slash = path.rfind('/');
            std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
            if (name.size() > kAttachmentPathMax - 4) {
                size_t cut = kAttachmentPathMax - 4;
                while (cut > 0 && (uint8_t(name[cut]) & 0xC0) == 0x80) --cut;
                name = name.substr(0, cut) + "...";
            }
            path = ".../" + name;
        }
        out += path;
        if (end == list.size()) break;
        out += ";\r\n ";
        start = end + 2;
    }
    return out;
}

std::string MessageId(const std::string& host) {
    uint64_t random = 0;
    if (getrandom(&random, sizeof random, 0) != ssize_t(sizeof random))
        random = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^ uint64_t(getpid()) << 32;
    return StrPrintf("<%lld.%016llx@%s>", static_cast<long long>(time(nullptr)),
                     static_cast<unsigned long long>(random), host.empty() ? "localhost" : host.c_str());
}

class Session {
public:
    explicit Session(const MailHost& host) : host_(host) {}
    ~Session() {
        if (sock_ >= 0 && close_ != nullptr) close_(sock_);
        Unload();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    int prepare_smtp_message(const std::string& envelope, const std::string& recipients, const std::string& server,
                             const std::string& senderid);
    int send_smtp_edit_data(const std::string& message);
    void finish_smtp_message() { put_smtp_line("QUIT\r\n"); }
    int close_smtp_socket();
    const std::string& realhostname() const { return myrealhostname_; }
    // The user cancelled the send during one of the library's waits: no further box is shown.
    bool cancelled() const { return cancelled_; }
    std::string destination;

private:
    void Title(const std::string& t) const {
        if (host_.set_title) host_.set_title(t);
    }
    int load_kes();
    void Unload();
    static int WaitHook(void* session);
    void KestrelError(const std::string& text) const;
    int open_smtp_socket(const std::string& server);
    int get_smtp_line();
    int put_smtp_line(const std::string& text);
    int putline_internal(const std::string& text);
    void smtp_error(const std::string& text);
    int transform_and_send_edit_data(const std::string& message);

    const MailHost& host_;
    void* lib_ = nullptr;
    ConnectFn connect_ = nullptr;
    MajorWindowFn major_window_ = nullptr;
    GetcharFn getchar_ = nullptr;
    PutDataFn put_data_ = nullptr;
    CloseFn close_ = nullptr;
    HostnameFn gethostname_ = nullptr;
    PutDataFn put_buffered_ = nullptr;
    FlushFn flush_ = nullptr;
    SetWaitHookFn set_wait_hook_ = nullptr;
    bool cancelled_ = false;
    bool committed_ = false;  // the whole message is out: only the server's reply is awaited
    int sock_ = -1;
    std::string my_hostname_;
    std::string myrealhostname_;
};

template <typename Fn>
bool Bind(void* lib, const char* name, Fn* fn) {
    *fn = reinterpret_cast<Fn>(dlsym(lib, name));
    return *fn != nullptr;
}

int Session::load_kes() {
    lib_ = dlopen((host_.library_folder + "/" + kSocketLibrary).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib_ == nullptr) {
        kp::MessageBox(kp::Owner::Active, StrPrintf("Error loading %s", kSocketLibrary), "Library Exception",
                       kp::Icon::Exclamation);
        return -1;
    }
    if (!Bind(lib_, "kestrel_connect", &connect_) || !Bind(lib_, "GetMajorWindow", &major_window_) ||
        !Bind(lib_, "kestrel_getchar", &getchar_) || !Bind(lib_, "kestrel_put_data", &put_data_) ||
        !Bind(lib_, "kestrel_close", &close_) || !Bind(lib_, "kestrel_gethostname", &gethostname_) ||
        !Bind(lib_, "kestrel_put_data_buffered", &put_buffered_) || !Bind(lib_, "kestrel_put_data_flush", &flush_)) {
        kp::MessageBox(kp::Owner::Active, "Address Error", "Library Exception", kp::Icon::Exclamation);
        close_ = nullptr;
        return -1;
    }
    // A library that offers the wait hook lets the user's input be handled, and Cancel act,
    // while it waits for the server.
    Bind(lib_, "kestrel_set_wait_hook", &set_wait_hook_);
    if (set_wait_hook_ != nullptr && (host_.pump || host_.cancelled)) set_wait_hook_(&Session::WaitHook, this);
    return 0;
}

int Session::WaitHook(void* session) {
    auto* s = static_cast<Session*>(session);
    if (!s->cancelled_ && s->host_.pump) s->host_.pump();
    // Once the message's end has gone out the server may deliver it: a Cancel then would say
    // "not sent" of a message that is sent, so the reply is awaited as without the hook.
    if (!s->cancelled_ && !s->committed_ && s->host_.cancelled) s->cancelled_ = s->host_.cancelled();
    return s->cancelled_ ? 1 : 0;
}

void Session::Unload() {
    if (lib_ == nullptr) return;
    if (set_wait_hook_ != nullptr) set_wait_hook_(nullptr, nullptr);
    dlclose(lib_);
    lib_ = nullptr;
}

void Session::KestrelError(const std::string& text) const {
    if (cancelled_) return;
    kp::MessageBox(kp::Owner::Active, StrPrintf("Kestrel TCP Error module: %s ", text.c_str()), "Sockets Exception",
                   kp::Icon::Exclamation);
}

int Session::open_smtp_socket(const std::string& server) {
    if (load_kes() != 0) return -1;
    if (major_window_(nullptr) != 0) {
        KestrelError("incorrect handle");
        return -1;
    }
    // "host:port" names the port; a plain host the mail service, or port 25 where the system's
    // service table lacks it.
    std::string name = server;
    std::string service = "smtp";
    const size_t colon = server.rfind(':');
    const bool port_given = colon != std::string::npos && colon + 1 < server.size() &&
                            server.find(':') == colon &&
                            server.find_first_not_of("0123456789", colon + 1) == std::string::npos;
    if (port_given) {
        name = server.substr(0, colon);
        service = server.substr(colon + 1);
    }
    int r = connect_(name.c_str(), service.c_str(), &sock_);
    if (r == kErrNoService && !port_given) {
        r = connect_(name.c_str(), "25", &sock_);
        if (r != 0) {
            sock_ = -1;
            KestrelError("kestrel tcp connect.  Possible cause:  incorrect SMTP server");
            return -1;
        }
    }
    if (r != 0) {
        sock_ = -1;
        const bool up = host_.network_up ? host_.network_up() : NetworkInterfaceUp();
        KestrelError(up ? "kestrel tcp connect.  Possible cause:  incorrect SMTP server"
                        : "kestrel tcp connect.  Possible cause:  Lost or Unfound network connection");
        return -1;
    }
    Title("Trying... ... ...");
    char host[512] = {};
    char real[512] = {};
    char addresses[25][512] = {};
    int count = 0;
    if (gethostname_(host, sizeof host, addresses, real, 25, &count) != 0) {
        KestrelError("kestrel tcp get remote hostname");
        return -1;
    }
    my_hostname_ = host;
    myrealhostname_ = real;
    Title("Connecting...");
    return 0;
}

int Session::close_smtp_socket() {
    if (lib_ == nullptr) return 0;
    const int r = sock_ >= 0 ? close_(sock_) : 0;
    sock_ = -1;
    if (r != 0) {
        KestrelError("kestrel close tcp connection");
        return -1;
    }
    Unload();
    return 0;
}

// One reply: its lines up to the last (a line with "-" after the code goes on); each line is
// read up to its LF, and what is beyond the first 255 bytes of a line is dropped.
int Session::get_smtp_line() {
    if (lib_ == nullptr || sock_ < 0) return -1;
    for (int lines = 0; lines < kReplyLinesMax; ++lines) {
        std::string line;
        for (;;) {
            char c = 0;
            if (getchar_(sock_, 0, &c) != 0) {
                KestrelError("Kestrel tcp get text");
                return -1;
            }
            if (line.size() < kReplyLineMax) line += c;
            if (c == '\n') break;
        }
        if (line.size() >= 4 && line[3] == '-') continue;
        return std::atoi(line.c_str());
    }
    return -1;
}

int Session::put_smtp_line(const std::string& text) {
    if (lib_ == nullptr || sock_ < 0) return -1;
    if (put_data_(sock_, text.data(), int(text.size())) != 0) {
        KestrelError("Kestrel tcp transfer data");
        return -1;
    }
    return 0;
}

int Session::putline_internal(const std::string& text) {
    if (lib_ == nullptr || sock_ < 0) return -1;
    const int r = put_data_(sock_, text.data(), int(text.size()));
    if (r == 0) return 0;
    if (r == kErrClosed && !cancelled_)
        kp::MessageBox(kp::Owner::Active, "SMTP server has closed the current connection", "Sockets Exception",
                       kp::Icon::Information);
    KestrelError("Kestrel tcp transfer data");
    return -1;
}

void Session::smtp_error(const std::string& text) {
    // A cancelled send only closes the connection.
    if (!cancelled_) {
        kp::MessageBox(kp::Owner::Active, text, "SMTP Exception", kp::Icon::Exclamation);
        put_smtp_line("QUIT\r\n");
    }
    close_smtp_socket();
}

int Session::prepare_smtp_message(const std::string& envelope, const std::string& recipients, const std::string& server,
                                  const std::string& senderid) {
    if (open_smtp_socket(server) != 0) return -1;
    if (get_smtp_line() != 220) {
        smtp_error("SMTP server error:  cannot maintain socket connection");
        return -1;
    }
    Title("Sending Inquiry... ");
    if (put_smtp_line(StrPrintf("HELO %s\r\n", my_hostname_.c_str())) != 0) return -1;
    if (get_smtp_line() != 250) {
        smtp_error("SMTP server error:  inquiry not handled");
        return -1;
    }
    if (put_smtp_line(StrPrintf("MAIL From:<%s>\r\n", envelope.c_str())) != 0) return -1;
    if (get_smtp_line() != 250) {
        smtp_error(StrPrintf("SMTP error:  Error in senderID for 'from:' field name '%s'.", senderid.c_str()));
        return -1;
    }
    Title("Sending Address Information... ");
    static const char* const kSeparators = " ,\n\t\r";
    size_t start = recipients.find_first_not_of(kSeparators);
    while (start != std::string::npos) {
        size_t end = recipients.find_first_of(kSeparators, start);
        if (end == std::string::npos) end = recipients.size();
        const std::string address = recipients.substr(start, end - start);
        if (putline_internal(StrPrintf("RCPT To: <%s>\r\n", address.c_str())) != 0) return -1;
        // 251: not local, will be forwarded; accepted as well.
        const int code = get_smtp_line();
        if (code != 250 && code != 251) {
            smtp_error(StrPrintf("SMTP error:  Error in senderID for 'To:' field name '%s'.", address.c_str()));
            return -1;
        }
        start = recipients.find_first_not_of(kSeparators, end);
    }
    if (put_smtp_line("DATA\r\n") != 0) return -1;
    if (get_smtp_line() != 354) {
        smtp_error("SMTP server error:  server could not accept the mail message");
        return -1;
    }
    return 0;
}

// Sends the message as the server wants it: a full stop at a line start doubled, every line
// ended by CR LF (a lone LF gets its CR, CR CR LF loses one CR), then the end marker.
int Session::transform_and_send_edit_data(const std::string& message) {
    const std::string who = StrPrintf("Sending Message to: %s", destination.c_str());
    if (host_.set_status) host_.set_status(who);
    if (host_.open_progress) host_.open_progress(who);
    if (host_.set_progress) host_.set_progress(0.0);
    const size_t header_end = message.find("\r\n\r\n");
    const size_t n = message.size();
    char prev = 0;
    int shown = 0;
    for (size_t i = 0; i < n; ++i) {
        const char c = message[i];
        std::string out;
        if (c == '\r' && header_end != std::string::npos && i < header_end && message.compare(i, 3, "\r\r\n") == 0) {
            i += 2;
            prev = '\n';
        } else {
            if (c == '\r') {
                if (prev != '\r') out = "\r";
            } else if (c == '\n') {
                out = prev == '\r' ? "\n" : "\r\n";
            } else if (c == '.' && prev == '\n') {
                out = "..";
            } else {
                out = std::string(1, c);
            }
            prev = c;
        }
        if (!out.empty()) {
            const int r = put_buffered_(sock_, out.data(), int(out.size()));
            if (r != 0) return r;
        }
        const int percent = int(100.0 * double(i + 1) / double(n));
        if (percent != shown && host_.set_progress) host_.set_progress(double(i + 1) / double(n));
        shown = percent;
    }
    const std::string end = (n > 0 && message[n - 1] == '\n') ? ".\r\n" : "\r\n.\r\n";
    int r = put_buffered_(sock_, end.data(), int(end.size()));
    if (r == 0) r = flush_(sock_);
    return r == 0 ? 1 : r;
}

int Session::send_smtp_edit_data(const std::string& message) {
    const int sent = transform_and_send_edit_data(message);
    if (sent != 1) {
        // The connection is closed and the library freed: no reply is read.
        smtp_error("Could not transfer the entire message");
        if (host_.close_progress) host_.close_progress();
        return -1;
    }
    committed_ = true;
    if (get_smtp_line() == 250) {
        if (host_.set_status) host_.set_status("");
        if (host_.close_progress) host_.close_progress();
        return 0;
    }
    smtp_error("SMTP Server Error:  The e-mail message was rejected by the server!");
    if (host_.close_progress) host_.close_progress();
    return -1;
}

void SettingsMissing(const MailSettings& s, const MailHost& host) {
    if (!s.smtp_host.empty())
        kp::MessageBox(kp::Owner::Active, "Failed to read registry, set preferences.  Mail not sent!",
                       "Registry Exception", kp::Icon::Exclamation);
    else
        kp::MessageBox(kp::Owner::Active, "SMTP server value is not set.  Check the Preferences dialog.",
                       "Mail Exception", kp::Icon::Stop);
    if (host.open_preferences) host.open_preferences();
}

}  // namespace

bool NetworkInterfaceUp() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool up = false;
    for (ifaddrs* i = list; i != nullptr && !up; i = i->ifa_next)
        up = i->ifa_addr != nullptr && (i->ifa_flags & IFF_UP) && (i->ifa_flags & IFF_RUNNING) &&
             !(i->ifa_flags & IFF_LOOPBACK) && (i->ifa_addr->sa_family == AF_INET || i->ifa_addr->sa_family == AF_INET6);
    freeifaddrs(list);
    return up;
}

std::string MailDate(time_t when) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    tzset();
    tm t{};
    localtime_r(&when, &t);
    const long offset = t.tm_gmtoff / 60;
    const long minutes = offset < 0 ? -offset : offset;
    return StrPrintf("%s, %.2d %s %.2d %.2d:%.2d:%.2d %c%.2ld%.2ld", kDays[t.tm_wday], t.tm_mday, kMonths[t.tm_mon],
                     t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, offset < 0 ? '-' : '+', minutes / 60,
                     minutes % 60);
}

std::string EnvelopeAddress(const std::string& sender) {
    const size_t start = sender.find_first_not_of(' ');
    if (start == std::string::npos) return {};
    return sender.substr(start, sender.find(' ', start) - start);
}

int mainmail(const Message& message, const MailHost& host) {
    const std::string subject = OneLine(message.subject);
    const std::string destination = OneLine(message.to);
    const std::string cc_list = OneLine(message.cc);

    const MailSettings settings = host.read_settings ? host.read_settings() : MailSettings{};
    const int code = settings.code;
    if (code != 0 && code != 4 && code != 5 && code != 6) {
        SettingsMissing(settings, host);
        return -1;
    }
    // The stored Sender wins; with none, the From field becomes the Sender. In the viewer a
    // non-empty From field replaces it for this message.
    std::string senderid = settings.sender;
    if (host.from_replaces_sender && !message.from.empty()) {
        senderid = message.from;
    } else if (senderid.empty()) {
        senderid = message.from;
        if (host.store_sender) host.store_sender(senderid);
    }
    senderid = OneLine(senderid);
    // The envelope takes the address alone: "MAIL From:<address (Name)>" is refused by servers.
    const std::string loginname = EnvelopeAddress(senderid);
    if (settings.smtp_host.empty()) {
        SettingsMissing(settings, host);
        return -1;
    }
    std::string recipients = message.to;
    if (!message.cc.empty()) recipients += "," + message.cc;

    std::string text = "Date: " + MailDate(time(nullptr)) + "\r\n" + "From: " + FromValue(senderid) + "\r\n";
    if (host.set_title) host.set_title("Trying...");
    Session session(host);
    session.destination = destination;
    const auto not_sent = [&] {
        if (session.cancelled()) {
            session.close_smtp_socket();
            if (host.close_progress) host.close_progress();
            if (host.set_status) host.set_status(kSendCancelled);
        }
        return -1;
    };
    if (session.prepare_smtp_message(loginname, recipients, settings.smtp_host, senderid) != 0) return not_sent();
    text += StrPrintf("Sender: %s@%s\r\n", UserName().c_str(), session.realhostname().c_str());
    text += "Message-ID: " + MessageId(session.realhostname()) + "\r\n";
    if (!subject.empty()) text += "Subject: " + UnstructuredValue(subject) + "\r\n";
    text += StrPrintf("To: %s\r\n", destination.c_str());
    if (!cc_list.empty()) text += StrPrintf("Cc: %s\r\n", cc_list.c_str());
    if (message.fileIsAttached) text += "X-Attachment:  " + AttachmentValue(OneLine(message.attached_files)) + "\r\n";
    // Text beyond ASCII is the dialogs' UTF-8, sent as it is.
    if (!Is7Bit(message.body))
        text += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n";
    text += StrPrintf("X-Info:  %s version %s Mailer Daemon\r\n", host.mailer.c_str(), host.version.c_str());
    text += StrPrintf("X-Mailer: <%s version %s> \r\n\r\n", host.mailer.c_str(), host.version.c_str());
    text += message.body;
    if (host.set_title) host.set_title("Sending Message... ");
    if (session.send_smtp_edit_data(text) != 0) return not_sent();
    session.finish_smtp_message();
    if (host.set_title) host.set_title("Sending... ... ... Done");
    session.close_smtp_socket();
    return 0;
}

}  // namespace mail
