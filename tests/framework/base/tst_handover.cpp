// SPDX-License-Identifier: GPL-3.0-or-later
#include "handover.h"

#include <QTest>
#include <atomic>
#include <stdexcept>

class TestHandover : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Batches arrive whole and in order, the maker never more than the depth
    // ahead of the taker.
    void batchesInOrderWithinTheDepth()
    {
        THandover<QList<int>> handover(2);
        std::atomic<int> made = 0;
        TSideThread maker(
            [&] {
                for (int i = 0; i < 50; ++i) {
                    handover.put({i, i + 1});
                    ++made;
                }
                handover.finish();
            },
            [&] { handover.stop(); });
        int taken = 0;
        while (const auto batch = handover.take()) {
            QVERIFY(made <= taken + 3);
            QCOMPARE(*batch, (QList<int>{taken, taken + 1}));
            ++taken;
        }
        maker.wait();
        QCOMPARE(taken, 50);
    }

    // A taker that gives up frees a maker waiting for room; a maker's
    // failure reaches the one that waits for it.
    void eitherSideStopsTheOther()
    {
        THandover<int> handover(1);
        std::atomic<bool> refused = false;
        {
            TSideThread maker(
                [&] {
                    while (handover.put(1)) {
                    }
                    refused = true;
                },
                [&] { handover.stop(); });
            QVERIFY(handover.take());
        }
        QVERIFY(refused);

        THandover<int> failing;
        TSideThread maker(
            [&] {
                failing.put(1);
                failing.finish();
                throw std::runtime_error("kaputt");
            },
            [&] { failing.stop(); });
        QCOMPARE(failing.take(), std::optional<int>(1));
        QVERIFY(!failing.take());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, maker.wait());
        maker.wait();
    }
};

QTEST_GUILESS_MAIN(TestHandover)
#include "tst_handover.moc"
