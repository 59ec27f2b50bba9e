// Text and placement rules of the tray icon, free of operating-system calls.
#pragma once
#include <cstddef>

namespace velmora::shell {

// The notification record's tooltip holds 128 bytes: the first 127 characters are kept.
inline constexpr std::size_t kTooltipSize = 128;
void copyTooltip(char (&out)[kTooltipSize], const char* text);

// TrackPopupMenuEx alignment flags (the platform's TPM_* values).
inline constexpr unsigned kAlignLeft = 0x0000;
inline constexpr unsigned kAlignRight = 0x0008;
inline constexpr unsigned kAlignTop = 0x0000;
inline constexpr unsigned kAlignBottom = 0x0020;

enum class TaskbarEdge { None, Left, Top, Right, Bottom };

struct TaskbarRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct PopupPlacement {
    unsigned flags = 0;
    int x = 0;
    int y = 0;
};

// Where and how the popup menu opens at cursor (x, y). The default follows the system's menu
// drop alignment, top-aligned. Only on platform version 6.0 exactly is the taskbar's edge taken
// into account: left edge: left/top; right edge: right/top, x moved to the taskbar's left edge
// when the cursor is right of it; bottom edge: bottom (plus right when menus drop right-handed),
// y moved to the taskbar's top when the cursor is below it; top edge or no taskbar: the default.
PopupPlacement popupPlacement(bool menuDropRightAligned, bool version60, TaskbarEdge edge,
                              const TaskbarRect& taskbar, int x, int y);

} // namespace velmora::shell
