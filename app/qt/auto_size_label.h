#pragma once

#include <QLabel>

// A label whose width follows its text while one edge stays where it was
// laid out: the left edge for left-aligned text, the right edge for
// right-aligned text. The height stays as laid out.
class TAutoSizeLabel : public QLabel {
    Q_OBJECT
public:
    TAutoSizeLabel(const QString& text, Qt::Alignment alignment, QWidget* parent);

    // Lays the label out at its fixed edge: `anchorX` is the left edge, or
    // for right-aligned labels the x just past the right edge.
    void Place(int anchorX, int top, int height);
    void SetCaption(const QString& text);

private:
    void FitWidth();

    int anchorX_ = 0;
};
