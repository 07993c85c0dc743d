#include "WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <climits>

#include "Profile.h"

namespace {
constexpr char kWindowSection[] = "Window";
}  // namespace

bool CWindowPlacement::Restore(QWidget& window) {
    const int left = GetProfileInt(kWindowSection, "Left", INT_MIN);
    const int top = GetProfileInt(kWindowSection, "Top", INT_MIN);
    const int width = GetProfileInt(kWindowSection, "Width", 0);
    const int height = GetProfileInt(kWindowSection, "Height", 0);
    if (left == INT_MIN || top == INT_MIN || width <= 0 || height <= 0) return false;
    // The title strip must lie on a screen, enough of it to take the window
    // by; otherwise (a screen since removed) the default place is better.
    const QRect title(left, top, width, 32);
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect available = screen->availableGeometry();
        const QRect seen = available.intersected(title);
        if (seen.width() < 64 || seen.height() < 16) continue;
        const QSize size = QSize(width, height).boundedTo(available.size()).expandedTo(window.minimumSizeHint());
        window.setGeometry(QRect(QPoint(left, top), size));
        return true;
    }
    return false;
}

void CWindowPlacement::Save(const QWidget& window) {
    const QRect rect = (window.isMinimized() || window.isMaximized()) ? window.normalGeometry() : window.geometry();
    if (!rect.isValid()) return;
    WriteProfileInt(kWindowSection, "Left", rect.left());
    WriteProfileInt(kWindowSection, "Top", rect.top());
    WriteProfileInt(kWindowSection, "Width", rect.width());
    WriteProfileInt(kWindowSection, "Height", rect.height());
}
