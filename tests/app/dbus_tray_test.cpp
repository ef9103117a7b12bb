// The main window with the real tray on a D-Bus (StatusNotifierItem) host: a
// private session bus, a watcher process of our own, and the test as the host
// that clicks the item and chooses from its exported menu.
#include <gtest/gtest.h>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QProcess>

#include "app/updater_harness.h"
#include "platform/notify_icons/qt_notify_icons.h"

using testsupport::UpdaterHarness;

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kHostConnection = QStringLiteral("tray-test-host");

// Processes events until done() holds, for at most five seconds: the bus and
// the watcher are other processes.
bool Eventually(const std::function<bool()>& done) {
    QDeadlineTimer deadline(5000);
    while (!done() && !deadline.hasExpired()) {
        QTest::qWait(5);
    }
    return done();
}

class DBusTrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        ASSERT_TRUE(daemon_.waitForReadyRead(5000)) << "dbus-daemon did not start";
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        bus_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address_, QStringLiteral("tray-test")));
        ASSERT_TRUE(bus_->isConnected());
        icons_ = std::make_unique<platform::QtNotifyIcons>(*bus_);
        harness_ = std::make_unique<UpdaterHarness>(icons_.get());
        harness_->WriteConfig(testsupport::kDefaultConfig);
    }
    void TearDown() override {
        StopWatcher();
        harness_.reset();
        icons_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("tray-test"));
        QDBusConnection::disconnectFromBus(kHostConnection);
        daemon_.kill();
        daemon_.waitForFinished();
    }

    void StartWatcher() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", address_);
        watcher_.setProcessEnvironment(env);
        watcher_.start(KESTROME_SNI_WATCHER_BIN, {});
        ASSERT_TRUE(Eventually([this] { return WatcherOnBus(); })) << "no watcher on the bus";
    }
    void StopWatcher() {
        watcher_.kill();
        watcher_.waitForFinished();
    }
    bool WatcherOnBus() const { return bus_->interface()->isServiceRegistered(kWatcher).value(); }
    // The items registered with the watcher ("service/path").
    QStringList Items() const {
        QDBusMessage get = QDBusMessage::createMethodCall(kWatcher, "/StatusNotifierWatcher",
                                                          "org.freedesktop.DBus.Properties", "Get");
        get << kWatcher << QStringLiteral("RegisteredStatusNotifierItems");
        const QDBusMessage reply = bus_->call(get, QDBus::Block, 2000);
        return reply.arguments().isEmpty()
                   ? QStringList()
                   : reply.arguments().first().value<QDBusVariant>().variant().toStringList();
    }
    // Calls the item as a host would, from a connection of its own; the
    // item lives in this thread, so the reply is awaited with events running.
    QDBusMessage CallItem(const QString& path, const QString& interface, const QString& method,
                          const QVariantList& args) {
        const QString item = Items().value(0);
        const QString service = item.section(u'/', 0, 0);
        QDBusConnection host = QDBusConnection::connectToBus(address_, kHostConnection);
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
        call.setArguments(args);
        QDBusPendingCall pending = host.asyncCall(call, 2000);
        Eventually([&pending] { return pending.isFinished(); });
        EXPECT_EQ(pending.reply().type(), QDBusMessage::ReplyMessage)
            << method.toStdString() << " on " << item.toStdString() << ": "
            << pending.reply().errorMessage().toStdString();
        return pending.reply();
    }
    void Activate() {
        CallItem("/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", {0, 0});
    }
    QStringList MenuLabels() {
        const QDBusMessage reply =
            CallItem("/MenuBar", "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
        QStringList labels;
        if (reply.arguments().size() == 2) {
            const auto root = qdbus_cast<platform::DBusMenuLayoutItem>(
                reply.arguments()[1].value<QDBusArgument>());
            for (const auto& child : root.children) {
                labels << child.properties.value("label").toString();
            }
        }
        return labels;
    }
    void ChooseFromMenu(int position) {
        CallItem("/MenuBar", "com.canonical.dbusmenu", "Event",
                 {position + 1, QStringLiteral("clicked"),
                  QVariant::fromValue(QDBusVariant(QVariant(0))), 0u});
    }

    QDialog* Window() const { return harness_->dlg.Window(); }
    bool InTray() const { return !Window()->isVisible() && Items().size() == 1; }
    bool OnTaskBarMinimised() const { return Window()->isVisible() && Window()->isMinimized(); }
    // Activation is the X11 check's to see: the offscreen platform keeps a
    // hidden window's focus.
    bool Restored() const { return Window()->isVisible() && !Window()->isMinimized(); }

    QProcess daemon_;
    QProcess watcher_;
    QString address_;
    std::unique_ptr<QDBusConnection> bus_;
    std::unique_ptr<platform::QtNotifyIcons> icons_;
    std::unique_ptr<UpdaterHarness> harness_;
};

TEST_F(DBusTrayTest, TheHostsClickRestoresAndItsOwnMenuOffersRestoreAndExit) {
    StartWatcher();
    UpdaterHarness& h = *harness_;
    const int result = h.Run([&] {
        h.Type(res::IDC_LOGIN, "alice");
        h.Minimise();
        ASSERT_TRUE(Eventually([&] { return InTray(); })) << "not hidden behind a D-Bus item";
        EXPECT_EQ(MenuLabels(), QStringList({"_Restore", "E_xit"}));
        Activate();
        EXPECT_TRUE(Eventually([&] { return Restored(); })) << "one click did not restore";
        EXPECT_TRUE(Eventually([&] { return Items().isEmpty(); })) << "the item outlived Restore";

        h.Minimise();
        ASSERT_TRUE(Eventually([&] { return InTray(); })) << "not hidden at the second minimise";
        ChooseFromMenu(1);  // Exit
        EXPECT_TRUE(Eventually([&] { return h.dlg.HasEnded(); })) << "Exit did not end";
    });
    EXPECT_NE(result, testsupport::kLeftRunning);
    EXPECT_NE(h.Config().find("Login=alice"), std::string::npos) << h.Config();
    EXPECT_TRUE(Eventually([&] { return Items().isEmpty(); })) << "the item outlived the program";
}

TEST_F(DBusTrayTest, AHostThatAppearsAfterAMinimiseIsUsedAtTheNextAndLosingItBringsTheWindowBack) {
    UpdaterHarness& h = *harness_;
    h.Run([&] {
        h.Minimise();
        EXPECT_TRUE(Eventually([&] { return OnTaskBarMinimised(); })) << "no tray: lost window";
        Window()->showNormal();
        UpdaterHarness::Settle();

        StartWatcher();
        h.Minimise();
        ASSERT_TRUE(Eventually([&] { return InTray(); })) << "the new host was not used";

        StopWatcher();
        EXPECT_TRUE(Eventually([&] { return Restored(); }))
            << "the window did not come back on screen after its host went";
        StartWatcher();
        EXPECT_TRUE(Eventually([&] { return InTray(); })) << "the returning host got no icon";
        Activate();
        EXPECT_TRUE(Eventually([&] { return Restored(); }));
    });
}

// As Plasma's watcher does when plasmashell dies: the host's name leaves the
// bus, and the watcher still says a host is registered and signals nothing.
TEST_F(DBusTrayTest, AHostWhoseNameLeavesTheBusIsGoneThoughTheWatcherSaysNothing) {
    StartWatcher();
    QDBusConnection host = QDBusConnection::connectToBus(address_, kHostConnection);
    const QString hostName = QStringLiteral("org.kde.StatusNotifierHost-4242");
    ASSERT_TRUE(host.registerService(hostName));
    UpdaterHarness& h = *harness_;
    h.Run([&] {
        h.Minimise();
        ASSERT_TRUE(Eventually([&] { return InTray(); }));
        host.unregisterService(hostName);
        EXPECT_TRUE(Eventually([&] { return Restored(); }))
            << "the window did not come back on screen from a host that died";
        host.registerService(hostName);
        EXPECT_TRUE(Eventually([&] { return InTray(); })) << "the restarted host got no icon";
        Activate();
        EXPECT_TRUE(Eventually([&] { return Restored(); }));
    });
}

}  // namespace
