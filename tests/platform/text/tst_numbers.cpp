#include <cmath>
#include <limits>

#include <QtTest>

#include "platform/text/Numbers.h"

class TestNumbers : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void halvesGoToTheEvenNeighbour_data() {
        const double inf = std::numeric_limits<double>::infinity();
        const double twoTo52 = 4503599627370496.0;
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("rounded");
        QTest::newRow("half down to even") << 2.5 << 2.0;
        QTest::newRow("half up to even") << 3.5 << 4.0;
        QTest::newRow("zero and a half") << 0.5 << 0.0;
        QTest::newRow("below a half") << 2.4999 << 2.0;
        QTest::newRow("above a half") << 2.5001 << 3.0;
        QTest::newRow("just below a half") << 0.49999999999999994 << 0.0;
        QTest::newRow("negative half to even") << -2.5 << -2.0;
        QTest::newRow("negative half to odd's neighbour") << -3.5 << -4.0;
        QTest::newRow("negative, not a half") << -2.6 << -3.0;
        QTest::newRow("half below 2^52") << twoTo52 - 0.5 << twoTo52;
        QTest::newRow("odd beyond 2^52") << twoTo52 + 1 << twoTo52 + 1;
        QTest::newRow("huge") << 1e300 << 1e300;
        QTest::newRow("infinity") << inf << inf;
        QTest::newRow("minus infinity") << -inf << -inf;
    }
    void halvesGoToTheEvenNeighbour() {
        QFETCH(double, value);
        QFETCH(double, rounded);
        // Exactly: QCOMPARE's fuzzy equality cannot tell neighbours apart beyond 2^40.
        const double got = platform::roundHalfToEven(value);
        QVERIFY2(got == rounded, qPrintable(QString::number(got, 'f', 1)));
    }

    void notANumberStaysOne() { QVERIFY(std::isnan(platform::roundHalfToEven(std::nan("")))); }
};

QTEST_MAIN(TestNumbers)
#include "tst_numbers.moc"
