// The desktop tool on --port rfc2217://HOST:PORT: the Com field names the network port, the servos answer
// through it, and a failed open or a lost connection says why in the log pane.
#include <QCoreApplication>

#include "link/Rfc2217Usb.h"
#include "tests/app/AppFixture.h"
#include "tests/support/FakeComPortServer.h"

class NetworkPortApp : public AppFixture {
protected:
    void StartOnNetwork(const std::string& portName) {
        CAppOptions options;
        options.szPortPath = portName;
        m_app = std::make_unique<CVelmoraApp>(options);
        ASSERT_TRUE(m_app->InitInstance());
        ASSERT_EQ(m_app->m_pTransport, nullptr);
        ASSERT_NE(m_app->m_pNetworkTransport, nullptr);
        ASSERT_NO_FATAL_FAILURE(Enter());
    }
    bool LogHas(const QString& text) const {
        for (const QString& line : LogLines())
            if (line.contains(text)) return true;
        return false;
    }
};

TEST_F(NetworkPortApp, TheServosAnswerThroughTheNetworkPortUntilItsServerHangsUp) {
    sim::CBusSimulator bus({1, 2});
    ASSERT_TRUE(bus.Start());
    CFakeComPortServer server;
    ASSERT_TRUE(server.BridgeTo(bus.SlavePath()));
    server.Start();
    ASSERT_NO_FATAL_FAILURE(StartOnNetwork(server.PortName()));
    EXPECT_EQ(Child<QLineEdit>(Main(), "port")->text(), QString::fromStdString(server.PortName()));
    ASSERT_NO_FATAL_FAILURE(OpenAt(QStringLiteral("1000000")));
    EXPECT_EQ(server.m_nRate.load(), 1000000u);
    uint8_t who = 0;
    EXPECT_EQ(m_app->m_pUsb->Ping(2, &who), 1);
    EXPECT_EQ(who, 2);

    server.m_bHangUp = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!LogHas(QStringLiteral("lost")) && std::chrono::steady_clock::now() < deadline) {
        m_app->m_pUsb->Ping(1);
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(LogHas(QStringLiteral("Port %1 lost: 127.0.0.1:%2 closed the connection")
                           .arg(QString::fromStdString(server.PortName()))
                           .arg(server.Port())))
        << LogLines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(Child<QPushButton>(Main(), "portOpen")->text(), QStringLiteral("Open"));
    m_app.reset();
    server.Stop();
}

TEST_F(NetworkPortApp, AFailedOpenSaysWhyInTheLog) {
    CFakeComPortServer server;
    server.m_bNegotiate = false;
    server.Start();
    ASSERT_NO_FATAL_FAILURE(StartOnNetwork(server.PortName()));
    Click(Child<QPushButton>(Main(), "portOpen"));
    EXPECT_EQ(Child<QPushButton>(Main(), "portOpen")->text(), QStringLiteral("Open"));
    EXPECT_TRUE(LogHas(QStringLiteral("127.0.0.1:%1 does not speak RFC 2217").arg(server.Port())))
        << LogLines().join(QLatin1Char('\n')).toStdString();
    m_app.reset();
    server.Stop();
}
