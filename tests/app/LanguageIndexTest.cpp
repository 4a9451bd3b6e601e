// The language index the window chooses from LANG.
#include "languageindex.h"

#include <QtTest>
#include <cstdlib>

class LanguageIndexTest : public QObject {
    Q_OBJECT

private slots:
    void selects_data();
    void selects();
    void unset();
    void prefixCompare();
};

void LanguageIndexTest::selects_data()
{
    QTest::addColumn<QByteArray>("lang");
    QTest::addColumn<int>("index");
    QTest::newRow("en_US") << QByteArray("en_US.UTF-8") << 0;
    QTest::newRow("en_IN falls back") << QByteArray("en_IN.UTF-8") << 0;
    QTest::newRow("zh_CN after the English values") << QByteArray("zh_CN.UTF-8") << 1;
    QTest::newRow("zh_TW") << QByteArray("zh_TW.UTF-8") << 2;
    QTest::newRow("zh_HK") << QByteArray("zh_HK") << 2;
    QTest::newRow("ja_JP") << QByteArray("ja_JP.UTF-8") << 8;
    QTest::newRow("hu_HU shares ja_jp's index") << QByteArray("hu_HU.UTF-8") << 8;
    QTest::newRow("ru_RU") << QByteArray("ru_RU.UTF-8") << 21;
    QTest::newRow("fr_CA") << QByteArray("fr_CA.UTF-8") << 11;
    QTest::newRow("fr_FR") << QByteArray("fr_FR.UTF-8") << 11;
    QTest::newRow("es_MX") << QByteArray("es_MX.UTF-8") << 12;
    QTest::newRow("de_AT") << QByteArray("de_AT.UTF-8") << 13;
    QTest::newRow("de_DE") << QByteArray("de_DE.UTF-8") << 13;
    QTest::newRow("sv_SE") << QByteArray("sv_SE.UTF-8") << 20;
    QTest::newRow("short en matches en_US") << QByteArray("en") << 0;
    QTest::newRow("short zh matches zh_CN") << QByteArray("zh") << 1;
    QTest::newRow("empty matches the first entry") << QByteArray("") << 0;
    QTest::newRow("C.UTF-8 matches nothing") << QByteArray("C.UTF-8") << 0;
}

void LanguageIndexTest::selects()
{
    QFETCH(QByteArray, lang);
    QFETCH(int, index);
    qputenv("LANG", lang);
    QCOMPARE(SelectLanguageIndex(), index);
}

void LanguageIndexTest::unset()
{
    qunsetenv("LANG");
    QCOMPARE(SelectLanguageIndex(), 0);
}

void LanguageIndexTest::prefixCompare()
{
    QCOMPARE(LocalePrefixCompare("fr_CA.UTF-8", "fr_ca", 4), 0);
    QCOMPARE(LocalePrefixCompare("fr_CH", "fr_ca", 4), 0);
    QCOMPARE(LocalePrefixCompare("en", "en_US", 4), 0);
    QCOMPARE(LocalePrefixCompare("", "en_US", 4), 0);
    QVERIFY(LocalePrefixCompare("de_DE", "en_US", 4) != 0);
    QVERIFY(LocalePrefixCompare("zh_TW", "zh_CN", 4) != 0);
}

QTEST_APPLESS_MAIN(LanguageIndexTest)
#include "LanguageIndexTest.moc"
