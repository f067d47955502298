#pragma once

#include <QScrollArea>

class QBoxLayout;
class QHBoxLayout;
class QLayout;
class QVBoxLayout;

namespace quiro {

class Card;

// A tab's page: one centred column of readable width that scrolls vertically, over whatever the
// window paints behind it. Cards keep room around themselves for their shadows; the page lines up
// their faces, not their shadows, with the text around them.
class PageScroll : public QScrollArea {
public:
    static constexpr int columnWidth = 720;
    // Beyond the column on either side, where the cards' shadows fall.
    static constexpr int gutter = 24;

    // Becomes the whole content of `screen`.
    explicit PageScroll(QWidget* screen);

    // The parent of the page's widgets.
    QWidget* content() const { return m_content; }

    void add(QWidget* widget, Qt::Alignment alignment = {});
    void add(Card* card);
    // A row or column of widgets; `cardShadow` is the shadow margin of the cards in it.
    void add(QLayout* layout, int cardShadow = 0);
    void addSpacing(int size);
    void addStretch();

private:
    QHBoxLayout* inset(int margin);

    QWidget* m_content;
    QVBoxLayout* m_column;
};

} // namespace quiro
