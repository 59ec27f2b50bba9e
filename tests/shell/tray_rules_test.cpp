#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "shell/tray_rules.h"

namespace velmora::shell {
namespace {

TEST(TrayRules, TooltipKeepsItsFirst127Characters) {
    char tip[kTooltipSize];
    const std::string long200(200, 'x');
    copyTooltip(tip, long200.c_str());
    EXPECT_EQ(std::strlen(tip), 127u);
    copyTooltip(tip, "Velmora: Stopped");
    EXPECT_STREQ(tip, "Velmora: Stopped");
    copyTooltip(tip, nullptr);
    EXPECT_STREQ(tip, "");
}

TEST(TrayRules, PopupPlacementFollowsTheTaskbarOnlyOnVersion60) {
    const TaskbarRect bottom{0, 740, 1024, 768};
    const TaskbarRect right{980, 0, 1024, 768};
    struct Case {
        const char* name;
        bool dropRight;
        bool v60;
        TaskbarEdge edge;
        TaskbarRect bar;
        int x, y;
        PopupPlacement expected;
    };
    const Case cases[] = {
        {"default left",
         false,
         false,
         TaskbarEdge::Bottom,
         bottom,
         500,
         760,
         {kAlignLeft | kAlignTop, 500, 760}},
        {"default right-handed",
         true,
         false,
         TaskbarEdge::Bottom,
         bottom,
         500,
         760,
         {kAlignRight | kAlignTop, 500, 760}},
        {"bottom, cursor below its top",
         false,
         true,
         TaskbarEdge::Bottom,
         bottom,
         500,
         760,
         {kAlignBottom | kAlignLeft, 500, 740}},
        {"bottom right-handed",
         true,
         true,
         TaskbarEdge::Bottom,
         bottom,
         500,
         760,
         {kAlignBottom | kAlignRight, 500, 740}},
        {"bottom, cursor above it",
         false,
         true,
         TaskbarEdge::Bottom,
         bottom,
         500,
         700,
         {kAlignBottom | kAlignLeft, 500, 700}},
        {"right edge, cursor right of it",
         false,
         true,
         TaskbarEdge::Right,
         right,
         1000,
         300,
         {kAlignRight | kAlignTop, 980, 300}},
        {"right edge, cursor left of it",
         false,
         true,
         TaskbarEdge::Right,
         right,
         900,
         300,
         {kAlignRight | kAlignTop, 900, 300}},
        {"left edge",
         true,
         true,
         TaskbarEdge::Left,
         {0, 0, 40, 768},
         20,
         300,
         {kAlignLeft | kAlignTop, 20, 300}},
        {"top edge: default",
         true,
         true,
         TaskbarEdge::Top,
         {0, 0, 1024, 30},
         20,
         10,
         {kAlignRight | kAlignTop, 20, 10}},
        {"no taskbar: default",
         false,
         true,
         TaskbarEdge::None,
         {},
         20,
         10,
         {kAlignLeft | kAlignTop, 20, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PopupPlacement p = popupPlacement(c.dropRight, c.v60, c.edge, c.bar, c.x, c.y);
        EXPECT_EQ(p.flags, c.expected.flags);
        EXPECT_EQ(p.x, c.expected.x);
        EXPECT_EQ(p.y, c.expected.y);
    }
}

} // namespace
} // namespace velmora::shell
