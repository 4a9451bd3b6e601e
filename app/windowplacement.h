// Where the window is placed on the screen.
#pragma once

#include <QPoint>
#include <QSize>

// Centred horizontally, at one third of the free height (integer division):
// a window of 804 x 593 on 1920 x 1080 goes to (558, 162).
QPoint CentredOrigin(QSize screen, QSize window);
