#include <cstdio>

#include "shell/tray_rules.h"

namespace velmora::shell {

void copyTooltip(char (&out)[kTooltipSize], const char* text) {
    std::snprintf(out, sizeof out, "%s", text != nullptr ? text : "");
}

PopupPlacement popupPlacement(bool menuDropRightAligned, bool version60, TaskbarEdge edge,
                              const TaskbarRect& taskbar, int x, int y) {
    PopupPlacement p{(menuDropRightAligned ? kAlignRight : kAlignLeft) | kAlignTop, x, y};
    if (!version60) {
        return p;
    }
    switch (edge) {
    case TaskbarEdge::Left:
        p.flags = kAlignLeft | kAlignTop;
        break;
    case TaskbarEdge::Right:
        p.flags = kAlignRight | kAlignTop;
        if (x > taskbar.left) {
            p.x = taskbar.left;
        }
        break;
    case TaskbarEdge::Bottom:
        p.flags = kAlignBottom | (menuDropRightAligned ? kAlignRight : kAlignLeft);
        if (y > taskbar.top) {
            p.y = taskbar.top;
        }
        break;
    case TaskbarEdge::Top:
    case TaskbarEdge::None:
        break;
    }
    return p;
}

} // namespace velmora::shell
