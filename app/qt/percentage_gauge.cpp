#include "app/qt/percentage_gauge.h"

#include <QImage>
#include <QPainter>

#include <algorithm>

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
    // The whole surface is painted from the off-screen image.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TGauge::SetMinValue(int value) {
    minValue_ = value;
    update();
}

void TGauge::SetMaxValue(int value) {
    maxValue_ = value;
    update();
}

void TGauge::SetProgress(int value) {
    progress_ = value;
    update();
}

void TGauge::SetForeColor(const QColor& color) {
    foreColor_ = color;
    update();
}

int TGauge::PercentDone() const {
    const int64_t range = int64_t{maxValue_} - minValue_;
    if (range == 0) return 0;
    return static_cast<int>((int64_t{progress_} - minValue_) * 100 / range);
}

QImage TGauge::Render() const {
    QImage image(size(), QImage::Format_RGB32);
    QPainter painter(&image);

    const QRect outer = image.rect();
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(outer.adjusted(0, 0, -1, -1));

    const QRect inner = outer.adjusted(1, 1, -1, -1);
    painter.fillRect(inner, Qt::white);

    const int percent = PercentDone();
    const int barWidth = std::min<int64_t>(int64_t{inner.width()} * percent / 100, inner.width());
    if (barWidth >= 1) painter.fillRect(QRect(inner.left(), inner.top(), barWidth, inner.height()), foreColor_);

    // Exclusive-or with white inverts what lies under the glyphs; smoothing
    // would blend instead, so the text is drawn without it.
    QFont textFont = font();
    textFont.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(textFont);
    const QString text = QString::asprintf("%d%%", percent);
    const QFontMetrics metrics(textFont);
    const int x = inner.left() + (inner.width() - metrics.horizontalAdvance(text)) / 2;
    const int y = inner.top() + (inner.height() - metrics.height()) / 2;
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(Qt::white);
    painter.drawText(x, y + metrics.ascent(), text);
    return image;
}

void TGauge::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawImage(0, 0, Render());
}
