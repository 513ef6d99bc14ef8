#pragma once

#include <functional>

class QWidget;

// Runs `action` from the event loop once `window` has been painted for the first time: a
// blocking call made before that would leave the window undrawn (black) while it runs.
void afterFirstPaint(QWidget* window, std::function<void()> action);
