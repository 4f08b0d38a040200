#pragma once

#include <QColor>
#include <QWidget>

// A horizontal percentage gauge: black frame, white background, a bar in the
// bar colour, and the percentage as text inverted over whatever lies under it.
class TGauge : public QWidget {
    Q_OBJECT
public:
    explicit TGauge(QWidget* parent);

    int MinValue() const { return minValue_; }
    void SetMinValue(int value);
    int MaxValue() const { return maxValue_; }
    void SetMaxValue(int value);
    int Progress() const { return progress_; }
    void SetProgress(int value);
    QColor ForeColor() const { return foreColor_; }
    void SetForeColor(const QColor& color);

    // (Progress - MinValue) * 100 / (MaxValue - MinValue), truncated; 0 for an empty range.
    int PercentDone() const;

    // The gauge as it paints itself, at its current size.
    QImage Render() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int minValue_ = 0;
    int maxValue_ = 100;
    int progress_ = 0;
    QColor foreColor_ = Qt::black;
};
