#include "app/qt/glyph_button.h"

#include <QBitmap>
#include <QImage>
#include <QStyleOptionButton>
#include <QStylePainter>

TGlyphButton::TGlyphButton(const QString& caption, const QString& glyphFile, QWidget* parent)
    : QPushButton(caption, parent) {
    const QImage image(glyphFile);
    glyph_ = QPixmap::fromImage(image);
    if (!image.isNull() && !image.hasAlphaChannel())
        glyph_.setMask(glyph_.createMaskFromColor(image.pixelColor(0, image.height() - 1), Qt::MaskInColor));
}

void TGlyphButton::paintEvent(QPaintEvent* /*event*/) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    const QPixmap glyph =
        style()->generatedIconPixmap(isEnabled() ? QIcon::Normal : QIcon::Disabled, glyph_, &option);
    const QFontMetrics metrics = fontMetrics();
    const int stackTop = (height() - glyph.height() - metrics.height()) / 2;
    painter.drawPixmap((width() - glyph.width()) / 2, stackTop, glyph);
    const QRect captionRect(0, stackTop + glyph.height(), width(), metrics.height());
    painter.drawItemText(captionRect, Qt::AlignHCenter | Qt::AlignTop, palette(), isEnabled(), text(),
                         QPalette::ButtonText);

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}
