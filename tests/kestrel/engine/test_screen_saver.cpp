// The screen saver held off over a private session bus, against a stand-in screen saver service
// that runs on its own connection and thread; and with no bus at all.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QThread>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "kestrel/engine/run/system_info.h"
#include "platform/msgbox.h"
#include "platform/screen_saver.h"
#include "tests/support/isolation.h"

namespace {

using Lines = std::vector<std::string>;

constexpr uint kCookie = 4242;

// The service's side of org.freedesktop.ScreenSaver, recording what it was asked.
class FakeScreenSaver : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != QLatin1String("org.freedesktop.ScreenSaver")) return false;
        std::lock_guard lock(mutex);
        QStringList words{message.member()};
        for (const QVariant& a : message.arguments()) words << a.toString();
        calls.push_back(words.join(QLatin1Char('|')).toStdString());
        senders.push_back(message.service());
        const bool inhibit = message.member() == QLatin1String("Inhibit");
        if ((inhibit && refuse_inhibit) || (!inhibit && refuse_uninhibit)) {
            connection.send(message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("not now")));
        } else if (inhibit) {
            connection.send(message.createReply(QVariant::fromValue(kCookie)));
        } else {
            connection.send(message.createReply());
        }
        return true;
    }
    Lines Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }
    QString Sender(int i) {
        std::lock_guard lock(mutex);
        return senders.value(i);
    }

    std::mutex mutex;
    Lines calls;
    QStringList senders;
    bool refuse_inhibit = false;
    bool refuse_uninhibit = false;
};

std::string Which(const char* program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

class SessionBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string daemon = Which("dbus-daemon");
        if (daemon.empty()) GTEST_SKIP() << "dbus-daemon is not installed: no private session bus to test on";
        const std::string command = daemon + " --session --fork --print-address=1 --print-pid=1";
        FILE* out = popen(command.c_str(), "r");
        ASSERT_NE(out, nullptr);
        char address[1024] = {}, pid[64] = {};
        const bool read = std::fgets(address, sizeof address, out) != nullptr &&
                          std::fgets(pid, sizeof pid, out) != nullptr;
        pclose(out);
        ASSERT_TRUE(read) << "dbus-daemon gave no address";
        daemon_pid_ = std::atoi(pid);
        address_ = QString::fromLocal8Bit(address).trimmed();
        setenv("DBUS_SESSION_BUS_ADDRESS", address_.toLocal8Bit().constData(), 1);
    }
    void TearDown() override {
        kp::UnInhibitScreenSaver();
        if (fake_ != nullptr) {
            QDBusConnection service(QStringLiteral("fake-screen-saver"));
            service.unregisterObject(QStringLiteral("/org/freedesktop/ScreenSaver"));
            QDBusConnection::disconnectFromBus(QStringLiteral("fake-screen-saver"));
            thread_.quit();
            thread_.wait();
            delete fake_;
        }
        if (daemon_pid_ > 0) kill(daemon_pid_, SIGTERM);
    }

    // The stand-in service on its own connection, answering on its own thread.
    void StartService() {
        QDBusConnection service = QDBusConnection::connectToBus(address_, QStringLiteral("fake-screen-saver"));
        ASSERT_TRUE(service.isConnected());
        fake_ = new FakeScreenSaver;
        thread_.start();
        fake_->moveToThread(&thread_);
        ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/ScreenSaver"), fake_));
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
    }
    bool StillOnTheBus(const QString& name) {
        return QDBusConnection(QStringLiteral("fake-screen-saver")).interface()->isServiceRegistered(name);
    }

    int daemon_pid_ = 0;
    QString address_;
    QThread thread_;
    FakeScreenSaver* fake_ = nullptr;
    kp::BoxRecorder boxes;
};

TEST_F(SessionBusTest, OffInhibitsAndOnHandsTheCookieBack) {
    StartService();
    EXPECT_EQ(TurnOffScreenSaver(), 0);
    EXPECT_TRUE(kp::ScreenSaverInhibited());
    EXPECT_EQ(fake_->Calls(), (Lines{"Inhibit|kestrel|Running benchmark tests"}));
    // Switching off again keeps the one hold.
    EXPECT_EQ(TurnOffScreenSaver(), 0);
    EXPECT_EQ(fake_->Calls().size(), 1u);

    EXPECT_EQ(TurnOnScreenSaver(), 0);
    EXPECT_FALSE(kp::ScreenSaverInhibited());
    EXPECT_EQ(fake_->Calls(), (Lines{"Inhibit|kestrel|Running benchmark tests", "UnInhibit|4242"}));
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(SessionBusTest, TheHoldBelongsToAConnectionThatIsClosedAfterwards) {
    StartService();
    ASSERT_EQ(TurnOffScreenSaver(), 0);
    const QString holder = fake_->Sender(0);
    ASSERT_FALSE(holder.isEmpty());
    EXPECT_TRUE(StillOnTheBus(holder));
    TurnOnScreenSaver();
    EXPECT_EQ(fake_->Sender(1), holder);
    // The connection is gone, so a service that tracks its callers drops any hold with it. The
    // bus says so once it has seen the close; the bound only keeps a fault from hanging the test.
    QElapsedTimer waited;
    waited.start();
    while (StillOnTheBus(holder) && waited.elapsed() < 60000) QThread::msleep(10);
    EXPECT_FALSE(StillOnTheBus(holder));
}

TEST_F(SessionBusTest, ARefusedInhibitShowsTheBoxAndHoldsNothing) {
    StartService();
    fake_->refuse_inhibit = true;
    EXPECT_EQ(TurnOffScreenSaver(), 2);
    EXPECT_FALSE(kp::ScreenSaverInhibited());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Error turning off screen saver!  Turn off manually!");
    EXPECT_EQ(boxes.boxes()[0].caption, "Registry Exception");
    EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Exclamation);
    EXPECT_EQ(boxes.boxes()[0].owner, kp::Owner::Main);
    // Nothing is held, so switching on does nothing.
    EXPECT_EQ(TurnOnScreenSaver(), 1);
    EXPECT_EQ(fake_->Calls().size(), 1u);
    EXPECT_EQ(boxes.boxes().size(), 1u);
}

TEST_F(SessionBusTest, ARefusedUnInhibitShowsTheBoxAndLetsGo) {
    StartService();
    fake_->refuse_uninhibit = true;
    ASSERT_EQ(TurnOffScreenSaver(), 0);
    EXPECT_EQ(TurnOnScreenSaver(), 2);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Error turning on screen saver!  Turn on manually!");
    EXPECT_EQ(boxes.boxes()[0].caption, "Registry Exception");
    EXPECT_FALSE(kp::ScreenSaverInhibited());
    EXPECT_EQ(TurnOnScreenSaver(), 1);
}

TEST_F(SessionBusTest, ABusWithoutAScreenSaverServiceIsNoService) {
    EXPECT_EQ(TurnOffScreenSaver(), 1);
    EXPECT_FALSE(kp::ScreenSaverInhibited());
    EXPECT_EQ(TurnOnScreenSaver(), 1);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST(NoSessionBus, AnAddressThatLeadsNowhereChangesNothing) {
    kp::BoxRecorder boxes;
    const std::string nowhere = "unix:path=" + kt::TempDir() + "/no-such-bus";
    setenv("DBUS_SESSION_BUS_ADDRESS", nowhere.c_str(), 1);
    EXPECT_EQ(TurnOffScreenSaver(), 1);
    EXPECT_FALSE(kp::ScreenSaverInhibited());
    EXPECT_EQ(TurnOnScreenSaver(), 1);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST(NoSessionBus, NoAddressAndNoBusSocketChangesNothing) {
    kp::BoxRecorder boxes;
    unsetenv("DBUS_SESSION_BUS_ADDRESS");  // XDG_RUNTIME_DIR is the test's own empty folder
    EXPECT_EQ(TurnOffScreenSaver(), 1);
    EXPECT_EQ(TurnOnScreenSaver(), 1);
    EXPECT_TRUE(boxes.boxes().empty());
}

}  // namespace

int main(int argc, char** argv) {
    kt::IsolateEnvironment();
    QCoreApplication app(argc, argv);
    setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
