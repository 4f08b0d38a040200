#pragma once

#include <QPixmap>
#include <QPushButton>

// A push button in the native button style with its glyph centred above the
// caption, both greyed while the button is disabled. A glyph without an alpha
// channel takes the colour of its bottom-left pixel as transparent.
class TGlyphButton : public QPushButton {
    Q_OBJECT
public:
    TGlyphButton(const QString& caption, const QString& glyphFile, QWidget* parent);

    const QPixmap& Glyph() const { return glyph_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap glyph_;
};
