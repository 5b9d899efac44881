#include "hexfile.h"
#include "link/flashsession.h"
#include "link/heximage.h"

#include <QTest>

namespace {

using HexFile::data;
using HexFile::linear;
using HexFile::record;
using HexFile::segment;

const QByteArray eof = HexFile::endOfFile();

QByteArray withBadChecksum(QByteArray line)
{
    // The checksum's last digit, before the line end.
    char &digit = line[line.size() - 2];
    digit = digit == '0' ? '1' : '0';
    return line;
}

} // namespace

class tst_HexImage : public QObject
{
    Q_OBJECT

private slots:
    void load_data();
    void load();
    void addressRange_data();
    void addressRange();
    void unknownTypesWarned();
    void failedLoadKeepsImage();
    void everyLoadStartsErased();
    void blockCheck_data();
    void blockCheck();
    void lines();
};

void tst_HexImage::load_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("badRecords");
    // For a load that succeeds: the image from index 0, and nothing beyond.
    QTest::addColumn<QByteArray>("image");

    const QByteArray ab = QByteArray::fromHex("AABB");
    const QByteArray cd = QByteArray::fromHex("CCDD");

    QTest::newRow("first record unreadable")
        << QByteArray(":1" + data(0, ab).mid(2) + eof) << int(HexImage::BadFormat) << 0 << QByteArray();
    QTest::newRow("not HEX at all") << QByteArray("hello\n:00000001FF\n") << int(HexImage::BadFormat) << 0
                                    << QByteArray();
    QTest::newRow("leading blank") << QByteArray(" " + data(0, ab) + eof) << int(HexImage::BadFormat) << 0
                                   << QByteArray();
    QTest::newRow("plain") << QByteArray(data(0, ab) + data(2, cd) + eof) << int(HexImage::Loaded) << 0
                           << QByteArray::fromHex("AABBCCDD");
    // objcopy's usual output: no address record, 16-byte data records.
    QTest::newRow("starts with a 16-byte data record")
        << QByteArray(data(0, QByteArray(16, 'a')) + data(16, ab) + eof) << int(HexImage::Loaded) << 0
        << QByteArray(QByteArray(16, 'a') + ab);
    QTest::newRow("starts with a start address")
        << QByteArray(record(5, 0, QByteArray::fromHex("08000101")) + data(0, ab) + eof)
        << int(HexImage::Loaded) << 0 << ab;
    QByteArray joined = data(0, ab) + data(2, cd) + eof;
    joined.replace('\n', QByteArray());
    QTest::newRow("no line breaks") << joined << int(HexImage::Loaded) << 0
                                    << QByteArray::fromHex("AABBCCDD");
    QTest::newRow("lower case") << QByteArray(data(0, ab) + data(2, cd) + eof).toLower()
                                << int(HexImage::Loaded) << 0 << QByteArray::fromHex("AABBCCDD");
    QTest::newRow("CR LF and text between records")
        << QByteArray(data(0, ab).replace("\n", "\r\n") + "junk\r\n" + data(2, cd) + eof)
        << int(HexImage::Loaded) << 0 << QByteArray::fromHex("AABBCCDD");
    QTest::newRow("CR line ends") << QByteArray(data(0, ab) + data(2, cd) + eof).replace('\n', '\r')
                                  << int(HexImage::Loaded) << 0 << QByteArray::fromHex("AABBCCDD");
    QTest::newRow("first data at 0x0100") << QByteArray(data(0x0100, ab) + data(0x0102, cd) + eof)
                                          << int(HexImage::Loaded) << 0 << QByteArray::fromHex("AABBCCDD");
    QTest::newRow("gap erased") << QByteArray(data(0x10, ab) + data(0x14, cd) + eof) << int(HexImage::Loaded)
                                << 0 << QByteArray::fromHex("AABBFFFFCCDD");
    QTest::newRow("out of order") << QByteArray(data(0, ab) + data(4, cd) + data(2, ab) + eof)
                                  << int(HexImage::Loaded) << 0 << QByteArray::fromHex("AABBAABBCCDD");
    QTest::newRow("extension 0x8005 then 0x8006")
        << QByteArray(linear(0x8005) + data(0xFFFE, ab) + linear(0x8006) + data(0x0000, cd) + eof)
        << int(HexImage::Loaded) << 0 << QByteArray::fromHex("AABBCCDD");
    // The whole 16 bits of the extension count.
    QTest::newRow("extension 0x00FF then 0x0100, one image")
        << QByteArray(linear(0x00FF) + data(0xFFFE, ab) + linear(0x0100) + data(0x0000, cd) + eof)
        << int(HexImage::Loaded) << 0 << QByteArray::fromHex("AABBCCDD");
    // Data before the first extension record is not moved by it.
    QTest::newRow("extension after the first data")
        << QByteArray(data(0xFFFE, ab) + linear(1) + data(0x0000, cd) + eof) << int(HexImage::Loaded) << 0
        << QByteArray::fromHex("AABBCCDD");
    QTest::newRow("segment zero") << QByteArray(segment(0) + data(0, ab) + eof) << int(HexImage::Loaded) << 0
                                  << ab;
    // Segment 0x1000 is address 0x10000, segment 0x2000 address 0x20000.
    QTest::newRow("segments over 64 KiB")
        << QByteArray(segment(0x1000) + data(0xFFFE, ab) + segment(0x2000) + data(0x0000, cd) + eof)
        << int(HexImage::Loaded) << 0 << QByteArray::fromHex("AABBCCDD");
    QTest::newRow("segment after linear")
        << QByteArray(linear(1) + data(0x0010, ab) + segment(0x1001) + data(0x0004, cd) + eof)
        << int(HexImage::Loaded) << 0 << QByteArray::fromHex("AABBFFFFCCDD");
    QTest::newRow("start addresses ignored")
        << QByteArray(record(3, 0, QByteArray::fromHex("00001234")) + data(0, ab) +
                      record(5, 0, QByteArray::fromHex("00000100")) + eof)
        << int(HexImage::Loaded) << 0 << ab;
    QTest::newRow("unknown type skipped") << QByteArray(data(0, ab) + record(7, 0, "x") + data(2, cd) + eof)
                                          << int(HexImage::Loaded) << 0 << QByteArray::fromHex("AABBCCDD");
    QTest::newRow("blank lines after the end")
        << QByteArray(data(0, ab) + eof + "\r\n\n") << int(HexImage::Loaded) << 0 << ab;
    QTest::newRow("bad checksums counted, data kept")
        << QByteArray(withBadChecksum(data(0, ab)) + data(2, cd) + withBadChecksum(data(4, ab)) + eof)
        << int(HexImage::Loaded) << 2 << QByteArray::fromHex("AABBCCDDAABB");
    QTest::newRow("record cut short")
        << QByteArray(data(0, ab) + data(2, cd).left(10) + "\n" + eof) << int(HexImage::Loaded) << 1 << ab;
    QTest::newRow("not hexadecimal") << QByteArray(data(0, ab) + ":0200020GCCDD53\n" + eof)
                                     << int(HexImage::Loaded) << 1 << ab;
    QTest::newRow("extension without its address")
        << QByteArray(data(0, ab) + record(4, 0, QByteArray(1, 1)) + data(2, cd) + eof)
        << int(HexImage::Loaded) << 1 << QByteArray::fromHex("AABBCCDD");
    QTest::newRow("last byte of the image")
        << QByteArray(data(0, ab) + linear(3) + data(0x0D3E, cd) + eof) << int(HexImage::Loaded) << 0
        << QByteArray(ab + QByteArray(HexImage::Capacity - 4, char(0xFF)) + cd);

    QTest::newRow("cut at a line end")
        << QByteArray(data(0, ab) + data(2, cd)) << int(HexImage::NoEndRecord) << 0 << QByteArray();
    QTest::newRow("cut inside a record")
        << QByteArray(data(0, ab) + ":04000000AA") << int(HexImage::NoEndRecord) << 1 << QByteArray();
    QTest::newRow("two files joined") << QByteArray(data(0, ab) + eof + data(2, cd) + eof)
                                      << int(HexImage::AfterEndRecord) << 0 << QByteArray();
    QTest::newRow("record after the end")
        << QByteArray(data(0, ab) + eof + "garbage:zz") << int(HexImage::AfterEndRecord) << 0 << QByteArray();
    QTest::newRow("extension 0x0800 then 0x0900, far apart")
        << QByteArray(linear(0x0800) + data(0, ab) + linear(0x0900) + data(0x0010, cd) + eof)
        << int(HexImage::OutOfImage) << 0 << QByteArray();
    QTest::newRow("before the first data address") << QByteArray(data(0x0100, ab) + data(0x00FF, cd) + eof)
                                                   << int(HexImage::OutOfImage) << 0 << QByteArray();
    QTest::newRow("before it through an extension")
        << QByteArray(linear(1) + data(0, ab) + linear(0) + data(0xFFFF, cd) + eof)
        << int(HexImage::OutOfImage) << 0 << QByteArray();
    QTest::newRow("one byte past the image") << QByteArray(data(0, ab) + linear(3) + data(0x0D3F, cd) + eof)
                                             << int(HexImage::OutOfImage) << 0 << QByteArray();
    QTest::newRow("far past the image") << QByteArray(data(0, ab) + linear(0xFF) + data(0xFFFF, cd) + eof)
                                        << int(HexImage::OutOfImage) << 0 << QByteArray();
    QTest::newRow("no data") << QByteArray(linear(5) + eof) << int(HexImage::NoData) << 0 << QByteArray();
    QTest::newRow("only empty data records")
        << QByteArray(data(0, QByteArray()) + eof) << int(HexImage::NoData) << 0 << QByteArray();
}

void tst_HexImage::load()
{
    QFETCH(QByteArray, text);
    QFETCH(int, status);
    QFETCH(int, badRecords);
    QFETCH(QByteArray, image);

    HexImage hex;
    const HexImage::Result result = hex.load(text);
    QCOMPARE(int(result.status), status);
    QCOMPARE(result.badRecords, badRecords);
    if (status != HexImage::Loaded) {
        QVERIFY(!result.message.isEmpty());
        QCOMPARE(hex.length(), 0);
        QCOMPARE(hex.bytes(), QByteArray(HexImage::Capacity, char(0xFF)));
        return;
    }
    QCOMPARE(hex.length(), image.size());
    QCOMPARE(hex.bytes().size(), HexImage::Capacity);
    QCOMPARE(hex.bytes().left(image.size()), image);
    QCOMPARE(hex.bytes().mid(image.size()), QByteArray(HexImage::Capacity - image.size(), char(0xFF)));
}

void tst_HexImage::addressRange_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<quint32>("first");
    QTest::addColumn<quint32>("last");

    QTest::newRow("from 0") << QByteArray(data(0, "ab") + data(2, "cd") + eof) << 0u << 3u;
    QTest::newRow("made for 0x08000000")
        << HexFile::image(QByteArray(0x1300, 'x'), 0x08000000) << 0x08000000u << 0x080012FFu;
    QTest::newRow("made for the board")
        << HexFile::image(QByteArray(300, 'x'), 0x80050000) << 0x80050000u << 0x8005012Bu;
    QTest::newRow("across 0x01000000") << HexFile::image("abcd", 0x00FFFFFE) << 0x00FFFFFEu << 0x01000001u;
    QTest::newRow("segment") << QByteArray(segment(0x1000) + data(0x10, "ab") + eof) << 0x10010u << 0x10011u;
}

void tst_HexImage::addressRange()
{
    QFETCH(QByteArray, text);
    QFETCH(quint32, first);
    QFETCH(quint32, last);
    HexImage hex;
    QCOMPARE(int(hex.load(text).status), int(HexImage::Loaded));
    QCOMPARE(hex.firstAddress(), first);
    QCOMPARE(hex.lastAddress(), last);
    QCOMPARE(quint32(hex.length()), last - first + 1);
}

void tst_HexImage::unknownTypesWarned()
{
    QByteArray text = linear(0) + data(0, "ab") + record(7, 0, "x");
    for (int i = 0; i < HexImage::MaxWarnings + 1; ++i)
        text += record(0x40 + i, 0, QByteArray());
    HexImage hex;
    const HexImage::Result result = hex.load(text + data(2, "cd") + eof);
    QCOMPARE(int(result.status), int(HexImage::Loaded));
    QCOMPARE(hex.bytes().left(4), QByteArray("abcd"));
    QCOMPARE(result.warnings.size(), HexImage::MaxWarnings + 1);
    QCOMPARE(result.warnings.first(), QString("HEX record of unknown type 07 on line 3 skipped."));
    QCOMPARE(result.warnings.at(1), QString("HEX record of unknown type 40 on line 4 skipped."));
    QCOMPARE(result.warnings.last(), QString("2 more HEX records of unknown type skipped."));
    QVERIFY(hex.load(data(0, "ab") + eof).warnings.isEmpty());
}

void tst_HexImage::failedLoadKeepsImage()
{
    HexImage hex;
    QCOMPARE(int(hex.load(data(0x0200, "\x01\x02\x03") + eof).status), int(HexImage::Loaded));
    const QByteArray before = hex.bytes();
    for (const QByteArray &bad : {QByteArray(":1"), QByteArray(data(0x10, "\x09") + data(0x0F, "\x09")),
                                  QByteArray(data(0, "\x09") + record(2, 0, QByteArray::fromHex("0001")))}) {
        QVERIFY(hex.load(bad).status != HexImage::Loaded);
        QCOMPARE(hex.bytes(), before);
        QCOMPARE(hex.length(), 3);
        QCOMPARE(hex.firstAddress(), 0x0200u);
    }
}

void tst_HexImage::everyLoadStartsErased()
{
    HexImage hex;
    QVERIFY(hex.load(HexFile::image(QByteArray(200, 'x'), 0)).status == HexImage::Loaded);
    QVERIFY(hex.load(data(0, "ab") + data(100, "c") + eof).status == HexImage::Loaded);
    QCOMPARE(hex.length(), 101);
    QCOMPARE(hex.bytes().left(2), QByteArray("ab"));
    QCOMPARE(hex.bytes().mid(2, 98), QByteArray(98, char(0xFF)));
    QCOMPARE(hex.bytes().mid(101, 200), QByteArray(200, char(0xFF)));
}

void tst_HexImage::blockCheck_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint32>("check");

    QByteArray counting;
    for (int i = 0; i < 256; ++i)
        counting += char(i);
    QTest::newRow("nothing") << QByteArray() << 0u;
    QTest::newRow("256 zero bytes") << QByteArray(256, 0) << 0u;
    // Up to 32 bits nothing reaches the top: the register holds the data.
    QTest::newRow("marker data") << QByteArray::fromHex("1234abcd") << 0x1234abcdu;
    QTest::newRow("one bit") << QByteArray::fromHex("01") << 0x1u;
    QTest::newRow("first feedback") << QByteArray::fromHex("8000000001") << 0x690ce0efu;
    QTest::newRow("digits") << QByteArray("123456789") << 0xccbd34e2u;
    QTest::newRow("counting block") << counting << 0x38cc25cdu;
    QTest::newRow("erased block") << QByteArray(256, char(0xFF)) << 0x8415157fu;
}

void tst_HexImage::blockCheck()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint32, check);
    QCOMPARE(HexImage::blockCheck(bytes.constData(), bytes.size()), check);
}

void tst_HexImage::lines()
{
    const QByteArray bytes = QByteArray::fromHex("1234abcd");
    QCOMPARE(FlashSession::blockLine(0x80050200u, bytes.constData(), 4),
             QByteArray("set flash=800502001234abcd000000041234abcd\r"));
    const QByteArray zeros(256, 0);
    QCOMPARE(FlashSession::blockLine(0x80050000u, zeros.constData(), 256),
             "set flash=800500000000000000000100" + QByteArray(512, '0') + '\r');
    QCOMPARE(FlashSession::markerLine(), QByteArray("set flash=8007fffC1234abcd000000041234abcd\r"));
    QCOMPARE(FlashSession::lineCount(0x2A5), 3);
    QCOMPARE(FlashSession::lineCount(0x200), 2);
    QCOMPARE(FlashSession::lineCount(1), 1);
}

QTEST_APPLESS_MAIN(tst_HexImage)
#include "tst_heximage.moc"
