#include "app/qt/auto_size_label.h"

TAutoSizeLabel::TAutoSizeLabel(const QString& text, Qt::Alignment alignment, QWidget* parent)
    : QLabel(parent) {
    // Captions carry folder and file names: shown as they are, never as markup.
    setTextFormat(Qt::PlainText);
    setText(text);
    setAlignment(alignment | Qt::AlignTop);
    setMargin(0);
    setIndent(0);
}

void TAutoSizeLabel::Place(int anchorX, int top, int height) {
    anchorX_ = anchorX;
    setGeometry(anchorX, top, 0, height);
    FitWidth();
}

void TAutoSizeLabel::SetCaption(const QString& text) {
    // Progress sets the same text many times over; laying it out again each
    // time is what would cost.
    if (text == this->text()) return;
    setText(text);
    FitWidth();
}

void TAutoSizeLabel::FitWidth() {
    const int width = fontMetrics().horizontalAdvance(text());
    const int left = alignment() & Qt::AlignRight ? anchorX_ - width : anchorX_;
    setGeometry(left, y(), width, height());
}
