#include "app/qt/percentage_gauge.h"

#include <gtest/gtest.h>

#include <QImage>

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kInvertedBlue = qRgb(255, 255, 0);

struct Painted {
    QImage image;
    int innerWidth;
    int innerHeight;

    QRgb At(int x, int y) const { return (image.pixel(x, y) & 0xFFFFFF) | 0xFF000000; }
    bool Any(QRgb colour) const {
        for (int y = 1; y <= innerHeight; ++y)
            for (int x = 1; x <= innerWidth; ++x)
                if (At(x, y) == colour) return true;
        return false;
    }
};

Painted Paint(int progress) {
    QWidget parent;
    TGauge gauge(&parent);
    QFont font;
    font.setPixelSize(13);
    gauge.setFont(font);
    gauge.setGeometry(18, 30, 352, 17);
    gauge.SetForeColor(QColor(0, 0, 255));
    gauge.SetProgress(progress);
    return {gauge.Render(), 350, 15};
}

TEST(Gauge, PercentIsTruncatedAndZeroForAnEmptyRange) {
    struct Case {
        int min, max, progress, percent;
    };
    for (const Case c : {Case{0, 100, 42, 42}, Case{0, 3, 1, 33}, Case{0, 3, 2, 66}, Case{10, 20, 15, 50},
                         Case{5, 5, 5, 0}, Case{0, 100, 100, 100}}) {
        QWidget parent;
        TGauge gauge(&parent);
        gauge.SetMinValue(c.min);
        gauge.SetMaxValue(c.max);
        gauge.SetProgress(c.progress);
        EXPECT_EQ(gauge.PercentDone(), c.percent) << c.min << ".." << c.max << " at " << c.progress;
    }
}

TEST(Gauge, FrameAndBackgroundWithoutBarAtZero) {
    const Painted p = Paint(0);
    for (QPoint corner : {QPoint(0, 0), QPoint(351, 0), QPoint(0, 16), QPoint(351, 16)})
        EXPECT_EQ(p.At(corner.x(), corner.y()), kBlack);
    EXPECT_EQ(p.At(1, 1), kWhite);
    EXPECT_EQ(p.At(350, 15), kWhite);
    EXPECT_FALSE(p.Any(kBlue));
    EXPECT_TRUE(p.Any(kBlack)) << "the text 0% is drawn dark on white";
}

TEST(Gauge, BarWidthIsTruncatedFromThePercentage) {
    const Painted p = Paint(42);
    const int barWidth = 350 * 42 / 100;  // 147
    // The top inner row lies above the text.
    for (int x = 1; x <= barWidth; ++x) ASSERT_EQ(p.At(x, 1), kBlue) << x;
    for (int x = barWidth + 1; x <= 350; ++x) ASSERT_EQ(p.At(x, 1), kWhite) << x;
    // "42%" sits in the middle, right of the bar's end, dark on white.
    bool textInMiddle = false;
    for (int y = 1; y <= 15; ++y)
        for (int x = 160; x <= 190; ++x) textInMiddle |= p.At(x, y) == kBlack;
    EXPECT_TRUE(textInMiddle);
}

TEST(Gauge, FullBarWithInvertedTextAtHundred) {
    const Painted p = Paint(100);
    EXPECT_FALSE(p.Any(kWhite));
    EXPECT_TRUE(p.Any(kInvertedBlue)) << "the text 100% shows in the inverse of the bar colour";
    for (int x = 1; x <= 350; ++x) ASSERT_EQ(p.At(x, 1), kBlue) << x;
}

}  // namespace
