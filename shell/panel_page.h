#pragma once
// The frame every page of the panel shares: its background with the cards'
// shadows, and the header of the pages that stand in for the panel.

#include <initializer_list>

class QLabel;
class QString;
class QVBoxLayout;
class QWidget;

namespace sweepkin {

class IconButton;

// Paints a page of the panel: its background, and a soft shadow under each of
// its cards.
void paintPanelPage(QWidget* page, std::initializer_list<const QWidget*> cards);

// The frame of a page that stands in for the panel (settings, history): the
// panel's width, its margins, and a header with a back button and the page's
// title. Returns the page's column.
QVBoxLayout* subPageLayout(QWidget* page, const QString& title, IconButton*& back,
                           QLabel*& titleLabel);

}  // namespace sweepkin
