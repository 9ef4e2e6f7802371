#include "config/OpenWebAddress.h"

#include <QRegularExpression>
#include <QTest>

// Off-screen there is no handler for web addresses at all, so every address fails to open.
using vb::OpenWebAddress;

class tst_OpenWebAddress : public QObject
{
    Q_OBJECT

private slots:
    void failsSilently_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("web address") << "https://www.quorrel.com/";
        QTest::newRow("empty") << "";
        QTest::newRow("no address at all") << "not an address ::";
    }
    void failsSilently()
    {
        QFETCH(QString, address);
        QTest::failOnWarning(QRegularExpression(".*"));
        OpenWebAddress(address);

        // Messages after the call are heard as before.
        QTest::ignoreMessage(QtWarningMsg, "still heard");
        qWarning("still heard");
    }
};

QTEST_MAIN(tst_OpenWebAddress)
#include "tst_openwebaddress.moc"
