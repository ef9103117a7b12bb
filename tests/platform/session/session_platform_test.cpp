// The Qt platform chosen before Qt starts: X11 through XWayland in a Wayland
// session, unless the user chose a platform or no XWayland runs.
#include "platform/session/session_platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

using platform::ChooseQtPlatform;
using platform::SessionEnvironment;

TEST(SessionPlatformTest, WaylandSessionsRunOnXWaylandUnlessTheUserChoseOrItIsMissing) {
    struct Case {
        const char* what;
        SessionEnvironment session;
        const char* expected;
    };
    const Case cases[] = {
        {"Wayland with XWayland", {"", "wayland-0", "wayland", ":0"}, "xcb"},
        {"Wayland socket only, with XWayland", {"", "wayland-1", "", ":1"}, "xcb"},
        {"session type only, with XWayland", {"", "", "wayland", ":0"}, "xcb"},
        {"Wayland without XWayland", {"", "wayland-0", "wayland", ""}, ""},
        {"the user chose Wayland", {"wayland", "wayland-0", "wayland", ":0"}, ""},
        {"the user chose xcb", {"xcb", "wayland-0", "wayland", ":0"}, ""},
        {"the user chose offscreen", {"offscreen", "wayland-0", "wayland", ":0"}, ""},
        {"an X11 session", {"", "", "x11", ":0"}, ""},
        {"no display at all", {"", "", "", ""}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseQtPlatform(c.session), c.expected) << c.what;
    }
}

namespace {

// Sets (or, with null, removes) a variable for one test and puts it back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        if (old != nullptr) {
            old_ = old;
        }
        value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(SessionPlatformTest, TheChoiceReachesQtAsAnArgumentNotAsAnInheritedVariable) {
    ScopedVariable wayland("WAYLAND_DISPLAY", "wayland-0");
    ScopedVariable display("DISPLAY", ":0");
    ScopedVariable chosen("QT_QPA_PLATFORM", nullptr);
    char program[] = "kestrome";
    char extra[] = "-style=fusion";
    char* argv[] = {program, extra, nullptr};
    const std::vector<char*> arguments = platform::ArgumentsWithQtPlatformChoice(2, argv);
    ASSERT_EQ(arguments.size(), 5u);
    EXPECT_STREQ(arguments[0], "kestrome");
    EXPECT_STREQ(arguments[1], "-platform");
    EXPECT_STREQ(arguments[2], "xcb");
    EXPECT_STREQ(arguments[3], "-style=fusion");
    EXPECT_EQ(arguments[4], nullptr);
    EXPECT_EQ(std::getenv("QT_QPA_PLATFORM"), nullptr);
}

// Some session managers announce Wayland only through the session type.
TEST(SessionPlatformTest, TheSessionTypeAloneMakesAWaylandSession) {
    ScopedVariable wayland("WAYLAND_DISPLAY", nullptr);
    ScopedVariable type("XDG_SESSION_TYPE", "wayland");
    ScopedVariable display("DISPLAY", ":0");
    ScopedVariable chosen("QT_QPA_PLATFORM", nullptr);
    char program[] = "kestrome";
    char* argv[] = {program, nullptr};
    const std::vector<char*> arguments = platform::ArgumentsWithQtPlatformChoice(1, argv);
    ASSERT_EQ(arguments.size(), 4u);
    EXPECT_STREQ(arguments[1], "-platform");
    EXPECT_STREQ(arguments[2], "xcb");
}
