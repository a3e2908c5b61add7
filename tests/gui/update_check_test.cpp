// The check for a newer version against a small HTTP server in this process:
// what the published list says, how the fetch fails, and what the user is
// offered.
#include "gui_support.h"

#include "app/update_check.h"

#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <plist/plist.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace arbel {
namespace {

using namespace std::chrono_literals;

// Answers every request with one canned response, or not at all, and keeps
// the request lines it was sent.
class VersionServer {
public:
    VersionServer() {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                ++connections;
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
            }
        });
    }

    QString url(const QString& path = QStringLiteral("/version.plist")) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
    }

    // The response: status and body.
    int status = 200;
    QByteArray body;
    // Where the first address sends the client, when set.
    QByteArray redirectTo;
    bool silent = false;  // accepts and never answers

    int connections = 0;
    QStringList requestLines;

private:
    void answer(QTcpSocket* socket) {
        QByteArray& pending = received_[socket];
        pending += socket->readAll();
        if (!pending.contains("\r\n\r\n")) return;
        const QString requestLine = QString::fromLatin1(pending.left(pending.indexOf("\r\n")));
        requestLines << requestLine;
        pending.clear();
        if (silent) return;
        const bool redirect = !redirectTo.isEmpty() && requestLine.startsWith(QLatin1String("GET /version.plist "));
        const QByteArray content = redirect ? QByteArray() : body;
        QByteArray response = "HTTP/1.1 " + QByteArray::number(redirect ? 302 : status) + " X\r\nContent-Length: " +
                              QByteArray::number(content.size()) + "\r\nConnection: close\r\n" +
                              (redirect ? "Location: " + redirectTo + "\r\n" : QByteArray()) + "\r\n" + content;
        socket->write(response);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    std::map<QTcpSocket*, QByteArray> received_;
};

QByteArray xmlList(const QString& version) {
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>CFBundleShortVersionString</key><string>%1</string></dict></plist>\n")
        .arg(version)
        .toUtf8();
}

QByteArray binaryList(const char* version) {
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "CFBundleShortVersionString", plist_new_string(version));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    QByteArray list(bytes, static_cast<int>(length));
    std::free(bytes);
    plist_free(root);
    return list;
}

const char* const kInstalledVersion = "1.4";
const char* const kTestIdentifier = "com.example.UpdateCheckTest";

class UpdateCheck : public test::ControllerTest {
protected:
    void SetUp() override {
        test::ControllerTest::SetUp();
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        writeInfoFile(server.url());
        app->isOnline = [this] {
            ++onlineAsked;
            return online;
        };
        app->updateFetchTimeout = 3s;
        app->launchUpdater = [this](const QString& program) {
            launched << program;
            return true;
        };
        app->updaterPath = QString::fromStdString(dir.file(".autoUpd"));
    }

    // The information file, with the address of the published list or none.
    void writeInfoFile(const std::optional<QString>& cloudPlistUrl) {
        QString text = QStringLiteral(
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                           "<key>CFBundleIdentifier</key><string>%1</string>"
                           "<key>CFBundleShortVersionString</key><string>%2</string>")
                           .arg(QLatin1String(kTestIdentifier), QLatin1String(kInstalledVersion));
        if (cloudPlistUrl)
            text += QStringLiteral("<key>cloudPlistUrl</key><string>%1</string>").arg(cloudPlistUrl->toHtmlEscaped());
        text += QStringLiteral("</dict></plist>\n");
        const QByteArray bytes = text.toUtf8();
        app->infoPlistPath = dir.write("Info.plist", std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }

    VersionServer server;
    bool online = true;
    int onlineAsked = 0;
    QStringList launched;
};

TEST_F(UpdateCheck, AnyDifferentPublishedVersionIsNewerInXmlAndBinaryLists) {
    struct Case {
        const char* name;
        int status;
        QByteArray body;
        bool newer;
    };
    const QByteArray tooLong = xmlList(QStringLiteral("9.9")).replace("<dict>", "<dict>" + QByteArray(70 * 1024, ' '));
    const Case cases[] = {
        {"xml newer", 200, xmlList("2.0"), true},
        {"xml equal", 200, xmlList(kInstalledVersion), false},
        {"xml lower", 200, xmlList("1.3"), true},
        {"binary newer", 200, binaryList("2.0"), true},
        {"binary equal", 200, binaryList(kInstalledVersion), false},
        {"binary lower", 200, binaryList("0.9"), true},
        {"not found", 404, xmlList("2.0"), false},
        {"root not a dictionary", 200,
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>2.0</string></array></plist>", false},
        {"key missing", 200,
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Version</key><string>2.0</string></dict></plist>",
         false},
        {"key of the wrong type", 200,
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleShortVersionString</key><real>2.0</real>"
         "</dict></plist>",
         false},
        {"garbage", 200, "this is not a property list", false},
        {"empty body", 200, "", false},
        {"body over the cap", 200, tooLong, false},
    };
    ASSERT_GT(tooLong.size(), kMaxVersionListBytes);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.status = c.status;
        server.body = c.body;
        const int before = server.connections;
        EXPECT_EQ(app->checkForUpdate(), c.newer);
        EXPECT_EQ(server.connections, before + 1);
        EXPECT_EQ(app->bundleIdentifier, kTestIdentifier);
    }
}

TEST_F(UpdateCheck, RedirectsAreFollowedOnlyToTheWeb) {
    struct Case {
        const char* name;
        QByteArray location;
        bool newer;
    };
    const Case cases[] = {
        {"to http on the same server", server.url(QStringLiteral("/moved.plist")).toLatin1(), true},
        {"to a file", "file:///etc/hostname", false},
        {"to ftp", "ftp://127.0.0.1/version.plist", false},
    };
    server.body = xmlList("2.0");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.requestLines.clear();
        server.redirectTo = c.location;
        EXPECT_EQ(app->checkForUpdate(), c.newer);
        EXPECT_EQ(server.requestLines.size(), c.newer ? 2 : 1);
    }
}

TEST_F(UpdateCheck, SilentServerTimesOutWhileTheWindowKeepsWorking) {
    server.silent = true;
    app->updateFetchTimeout = 300ms;
    int ticks = 0;
    QTimer clock;
    clock.setInterval(20);
    QObject::connect(&clock, &QTimer::timeout, [&] { ++ticks; });
    clock.start();
    QElapsedTimer took;
    took.start();
    EXPECT_FALSE(app->checkForUpdate());
    EXPECT_GE(took.elapsed(), 250);
    EXPECT_LT(took.elapsed(), 5000);
    // The check waited in an event loop: the window's timers went on firing.
    EXPECT_GE(ticks, 5);
    EXPECT_EQ(server.connections, 1);
}

TEST_F(UpdateCheck, ClosedPortMeansNoNewerVersion) {
    quint16 port = 0;
    {
        QTcpServer closed;
        ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
        port = closed.serverPort();
    }
    writeInfoFile(QStringLiteral("http://127.0.0.1:%1/version.plist").arg(port));
    EXPECT_FALSE(app->checkForUpdate());
}

TEST_F(UpdateCheck, BlanksInTheAddressTravelAsPercentTwenty) {
    writeInfoFile(server.url(QStringLiteral("/published lists/version 2.plist")));
    server.body = xmlList("2.0");
    EXPECT_TRUE(app->checkForUpdate());
    ASSERT_EQ(server.requestLines.size(), 1);
    EXPECT_EQ(server.requestLines[0], "GET /published%20lists/version%202.plist HTTP/1.1");
}

TEST_F(UpdateCheck, NoAddressOrNoConnectionAsksNoServer) {
    struct Case {
        const char* name;
        bool online;
        std::optional<QString> address;
    };
    const Case cases[] = {
        {"offline", false, server.url()},
        {"no cloudPlistUrl", true, std::nullopt},
        {"empty cloudPlistUrl", true, QString()},
        {"not a web address", true, QStringLiteral("file:///etc/hostname")},
    };
    server.body = xmlList("2.0");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        online = c.online;
        writeInfoFile(c.address);
        app->bundleIdentifier.clear();
        EXPECT_FALSE(app->checkForUpdate());
        // The identifier is read before anything else.
        EXPECT_EQ(app->bundleIdentifier, kTestIdentifier);
    }
    EXPECT_EQ(server.connections, 0);
}

TEST_F(UpdateCheck, ClickedOffersTheUpdaterAfterWhatWasPublishedAndWhoAsked) {
    struct Case {
        const char* name;
        QByteArray published;
        bool withSender;
        std::optional<bool> answerNo;  // the panel's answer, when one is expected
        bool updaterStarted;
    };
    const Case cases[] = {
        {"newer, YES", xmlList("2.0"), false, false, true},
        {"newer, NO", xmlList("2.0"), false, true, false},
        {"newer, YES, asked", xmlList("2.0"), true, false, true},
        {"up to date, at start-up", xmlList(kInstalledVersion), false, std::nullopt, false},
        {"up to date, asked", xmlList(kInstalledVersion), true, std::nullopt, true},
        {"no list, asked", "garbage", true, std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.body = c.published;
        prompts->panels.clear();
        launched.clear();
        if (c.answerNo) prompts->alternateAnswers.push_back(*c.answerNo);
        app->checkForUpdateClicked(c.withSender ? app->checkForUpdatesBtn : nullptr);
        if (c.answerNo) {
            ASSERT_EQ(prompts->panels.size(), 1u);
            EXPECT_EQ(prompts->panels[0].title, "A newer version of Arbel Video Repair is available");
            EXPECT_EQ(prompts->panels[0].text, "Do you want to update");
            EXPECT_EQ(prompts->panels[0].button, "YES");
            EXPECT_EQ(prompts->panels[0].alternate, "NO");
        } else {
            EXPECT_TRUE(prompts->panels.empty());
        }
        EXPECT_EQ(launched, c.updaterStarted ? QStringList{app->updaterPath} : QStringList{});
    }
}

TEST_F(UpdateCheck, TheButtonInTheWindowAsksWithItselfAsSender) {
    online = false;
    app->checkForUpdatesBtn->click();
    EXPECT_EQ(onlineAsked, 1);
    EXPECT_EQ(launched, QStringList{app->updaterPath});
}

// The program's own way of starting the updater: in the background, no
// arguments, no shell; a missing updater is no error.
TEST(UpdaterLaunch, StartsTheProgramWithNoArgumentsAndIgnoresAMissingOne) {
    Pacing::setMode(Pacing::Mode::Zero);
    auto prompts = std::make_shared<test::ScriptedPrompts>();
    Tolvik_Repair_MOVAppDelegate app(prompts);
    test::TempDir dir;
    const std::string updater = dir.file("updater with blank");
    const std::string record = dir.file("arguments");
    {
        std::ofstream script(updater);
        script << "#!/bin/sh\necho \"$#\" > '" << record << ".part'\nmv '" << record << ".part' '" << record << "'\n";
    }
    std::filesystem::permissions(updater, std::filesystem::perms::owner_all);
    EXPECT_TRUE(app.launchUpdater(QString::fromStdString(updater)));
    ASSERT_TRUE(test::processEventsUntil([&] { return std::filesystem::exists(record); }));
    std::ifstream in(record);
    std::string count;
    in >> count;
    EXPECT_EQ(count, "0");

    EXPECT_FALSE(app.launchUpdater(QString::fromStdString(dir.file("no-such-updater"))));
}

}  // namespace
}  // namespace arbel
