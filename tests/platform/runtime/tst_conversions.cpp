#include "platform/files/FileNames.h"
#include "platform/runtime/Conversions.h"
#include "platform/runtime/RuntimeError.h"

#include <QTest>

using namespace vb;

Q_DECLARE_METATYPE(vb::ErrorCode)

namespace {
// A row's expected outcome: a value, or the error the conversion must raise.
enum class Outcome { Value, TypeMismatch, Overflow };
} // namespace
Q_DECLARE_METATYPE(Outcome)

class tst_Conversions : public QObject
{
    Q_OBJECT

private:
    template <typename F>
    static void Check(F convert, const QString& text, Outcome outcome, qint64 expected)
    {
        try {
            const qint64 value = convert(text);
            QCOMPARE(outcome, Outcome::Value);
            QCOMPARE(value, expected);
        } catch (const RuntimeError& e) {
            QVERIFY2(outcome != Outcome::Value, qPrintable(e.cause()));
            QCOMPARE(e.code(),
                     outcome == Outcome::TypeMismatch ? ErrorCode::TypeMismatch : ErrorCode::Overflow);
            QVERIFY2(e.cause().contains(text), qPrintable(e.cause()));
        }
    }

    static void NumberRows()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Outcome>("outcome16");
        QTest::addColumn<Outcome>("outcome32");
        QTest::addColumn<qint64>("value");
        const auto row = [](const char* name, const QString& text, Outcome o16, Outcome o32, qint64 v) {
            QTest::newRow(name) << text << o16 << o32 << v;
        };
        const auto V = Outcome::Value;
        const auto T = Outcome::TypeMismatch;
        const auto O = Outcome::Overflow;
        row("zero", "0", V, V, 0);
        row("plain", "60", V, V, 60);
        row("negative", "-5", V, V, -5);
        row("plus sign", "+8", V, V, 8);
        row("blanks around", " 7 ", V, V, 7);
        row("tabs around", "\t7\t", V, V, 7);
        row("leading zeros", "0012", V, V, 12);
        row("minus zero", "-0", V, V, 0);
        row("half to even down", "2.5", V, V, 2);
        row("half to even up", "3.5", V, V, 4);
        row("negative half", "-2.5", V, V, -2);
        row("negative half up", "-3.5", V, V, -4);
        row("just above half", "2.5000001", V, V, 3);
        row("below half", "2.4999", V, V, 2);
        row("fraction only", ".6", V, V, 1);
        row("trailing point", "5.", V, V, 5);
        row("int16 max", "32767", V, V, 32767);
        row("int16 min", "-32768", V, V, -32768);
        row("int16 max+1", "32768", O, V, 32768);
        row("int16 min-1", "-32769", O, V, -32769);
        row("rounds into overflow", "32767.5", O, V, 32768);
        row("numdirs 40000", "40000", O, V, 40000);
        row("int32 max", "2147483647", O, V, 2147483647);
        row("int32 min", "-2147483648", O, V, -2147483648LL);
        row("int32 max+1", "2147483648", O, O, 0);
        row("huge", "99999999999", O, O, 0);
        row("very long digit run", QString(400, u'9'), O, O, 0);
        row("long zero run", QString(400, u'0') + "1", V, V, 1);
        row("empty", "", T, T, 0);
        row("blanks only", "   ", T, T, 0);
        row("letters", "abc", T, T, 0);
        row("digits then letters", "12x", T, T, 0);
        row("sign only", "-", T, T, 0);
        row("point only", ".", T, T, 0);
        row("two signs", "--5", T, T, 0);
        row("inner blank", "1 2", T, T, 0);
        row("thousands separator", "1,000", T, T, 0);
        row("exponent", "1e3", T, T, 0);
        row("hex", "0x10", T, T, 0);
        row("two points", "1.2.3", T, T, 0);
        row("arabic-indic digit", QString::fromUtf8("\xd9\xa3"), T, T, 0);
    }

private slots:
    void textToInt16_data() { NumberRows(); }
    void textToInt16()
    {
        QFETCH(QString, text);
        QFETCH(Outcome, outcome16);
        QFETCH(qint64, value);
        Check(TextToInt16, text, outcome16, value);
    }

    void textToInt32_data() { NumberRows(); }
    void textToInt32()
    {
        QFETCH(QString, text);
        QFETCH(Outcome, outcome32);
        QFETCH(qint64, value);
        Check(TextToInt32, text, outcome32, value);
    }

    void textToBool_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("value");
        QTest::newRow("True") << "True" << true << true;
        QTest::newRow("true") << "true" << true << true;
        QTest::newRow("TRUE") << "TRUE" << true << true;
        QTest::newRow("False") << "False" << true << false;
        QTest::newRow("fAlSe") << "fAlSe" << true << false;
        QTest::newRow("blanks around word") << " True " << true << true;
        QTest::newRow("-1") << "-1" << true << true;
        QTest::newRow("0") << "0" << true << false;
        QTest::newRow("0.0") << "0.0" << true << false;
        QTest::newRow("fraction is non-zero") << "0.4" << true << true;
        QTest::newRow("large number") << "99999999999" << true << true;
        QTest::newRow("empty") << "" << false << false;
        QTest::newRow("yes") << "yes" << false << false;
        QTest::newRow("Truth") << "Truth" << false << false;
        QTest::newRow("T") << "T" << false << false;
    }
    void textToBool()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(bool, value);
        try {
            QCOMPARE(TextToBool(text), value);
            QVERIFY(valid);
        } catch (const RuntimeError& e) {
            QVERIFY2(!valid, qPrintable(e.cause()));
            QCOMPARE(e.code(), ErrorCode::TypeMismatch);
        }
    }

    // Whatever the program writes must read back as the same value.
    void writtenTextReadsBack_data()
    {
        QTest::addColumn<qint64>("value");
        for (qint64 v : {0LL, 1LL, -1LL, 60LL, -5LL, 32767LL, -32768LL, 2147483647LL, -2147483648LL})
            QTest::addRow("%lld", v) << v;
    }
    void writtenTextReadsBack()
    {
        QFETCH(qint64, value);
        QCOMPARE(qint64(TextToInt32(IntToText(value))), value);
        if (value >= -32768 && value <= 32767)
            QCOMPARE(qint64(TextToInt16(IntToText(value))), value);
        QCOMPARE(TextToBool(BoolToText(value != 0)), value != 0);
    }

    // File names as bytes and back: nothing lost, and only bytes that are no UTF-8 stand apart.
    void fileNameBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("strays"); // bytes that are not valid UTF-8
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("utf-8, emoji") << QByteArray("caf\xc3\xa9 \xf0\x9f\x93\xb7") << 0;
        QTest::newRow("replacement character itself") << QByteArray("\xef\xbf\xbd") << 0;
        QTest::newRow("latin-1") << QByteArray("caf\xe9.jpg") << 1;
        QTest::newRow("stray continuation") << QByteArray("\x80\x61\xbf") << 2;
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << 2;
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xb3\xa9") << 3;
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << 4;
        QTest::newRow("cut short, then emoji") << QByteArray("\xe2\x82\xf0\x9f\x93\xb7") << 2;
    }
    void fileNameBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, strays);
        const QString text = DecodeFileName(bytes);
        QCOMPARE(EncodeFileName(text), bytes);
        QCOMPARE(DecodeFileName(EncodeFileName(text)), text);
        QCOMPARE(int(DisplayFileName(text).count(QChar::ReplacementCharacter)),
                 strays + int(bytes.count("\xef\xbf\xbd")));
    }
};

QTEST_APPLESS_MAIN(tst_Conversions)
#include "tst_conversions.moc"
