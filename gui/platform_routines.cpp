// The GUI's routines: the platform-<field> routines that system/view/platform
// is filled with, and the other entries the library reaches the backend by.
// The words exist from start-up; all but a few call into the GUI module
// (gui/module.hpp), which is loaded by the first such call. Each forwards its
// frame unchanged to the module's entry of the same name.
#include "core/logic.hpp"
#include "core/ownership.hpp"
#include "core/stack.hpp"
#include "datatypes/handle.hpp"
#include "gui/clipboard.hpp"
#include "gui/module.hpp"
#include "gui/platform_routines.hpp"

namespace kel {

// Routine names that forward to the module, by position.
static const char* const FORWARDED[] = {
    "platform-init",
    "platform-fetch-all-screens",
    "platform-get-current-screen",
    "platform-get-screen-size",
    "platform-size-text",
    "platform-on-change-facet",
    "platform-update-text",
    "platform-update-font",
    "platform-update-para",
    "platform-destroy-view",
    "platform-update-view",
    "platform-refresh-window",
    "platform-redraw",
    "platform-show-window",
    "platform-make-view",
    "platform-draw-image",
    "platform-draw-face",
    "platform-do-event-loop",
    "platform-exit-event-loop",
    "platform-request-font",
    "platform-request-file",
    "platform-request-dir",
    "platform-text-box-metrics",
    "platform-update-scroller",
    "platform-set-dark-mode",
    "platform-support-dark-mode?",
    "platform-toggle-GPU",
    "send-event-os",
    "face-to-image",
    "show-error-box",
    "gui-message-loop",
};
constexpr int FORWARDED_COUNT = int(sizeof FORWARDED / sizeof FORWARDED[0]);

// Calls the module's entry for FORWARDED[N], found once.
template <int N> static void forward() {
    static GuiFn fn = nullptr;
    if (!fn) fn = gui_module_fn(FORWARDED[N]);
    fn();
}

// platform-make-null-handle: the handle! of value 0 and the null class.
static void routine_make_null_handle() { handle_push(0, HANDLE_NULL); }

// platform-detach-image img: the image's pixels no longer notify an owner.
static void routine_detach_image() {
    ownership_clear_deep(data_stack.args);
    none_make_at(stack_box_new(T_NONE));
}

#define FWD(n, spec) {FORWARDED[n], spec, forward<n>, 0, nullptr}
const RoutineDef GUI_ROUTINES[] = {
    {"platform-make-null-handle", "", routine_make_null_handle, 0, nullptr},
    {"platform-detach-image", "img [image!]", routine_detach_image, 0, nullptr},
    {"read-clipboard", "\"Return the contents of the system clipboard\"", routine_read_clipboard, 0,
     nullptr},
    {"write-clipboard", "\"Write content to the system clipboard\" data [any-type!]",
     routine_write_clipboard, 0, nullptr},
    FWD(0, ""),
    FWD(1, ""),
    FWD(2, ""),
    FWD(3, "id [integer!]"),
    FWD(4, "face [object!] value [any-type!]"),
    FWD(5, "owner [object!] word [any-word!] value [any-type!] action [word!] new [any-type!] "
           "index [integer!] part [integer!]"),
    FWD(6, "face [object!]"),
    FWD(7, "font [object!] flags [integer!]"),
    FWD(8, "face [object!] flags [integer!]"),
    FWD(9, "face [object!] empty? [logic!]"),
    FWD(10, "face [any-type!]"),
    FWD(11, "h [handle!]"),
    FWD(12, "face [object!]"),
    FWD(13, "id [handle!]"),
    FWD(14, "face [object!] parent [handle!]"),
    FWD(15, "image [image!] cmds [block!]"),
    FWD(16, "face [object!] cmds [block!]"),
    FWD(17, "no-wait? [logic!]"),
    FWD(18, ""),
    FWD(19, "font [object!] selected [any-type!] mono? [logic!]"),
    FWD(20, "title [any-type!] name [any-type!] filter [any-type!] save? [logic!] multi? [logic!]"),
    FWD(21, "title [any-type!] dir [any-type!] filter [any-type!] keep? [logic!] multi? [logic!]"),
    FWD(22, "box [object!] arg0 [any-type!] type [integer!]"),
    FWD(23, "scroller [object!] flags [integer!]"),
    FWD(24, "face [object!] dark? [logic!]"),
    FWD(25, "return: [logic!]"),
    FWD(26, ""),
    FWD(27, "event [event!] queued? [logic!]"),
    FWD(28, "face [object!]"),
    FWD(29, "text [string!] caption [string!]"),
    FWD(30, ""),
};
#undef FWD
const uint32_t GUI_ROUTINE_COUNT = sizeof GUI_ROUTINES / sizeof GUI_ROUTINES[0];
static_assert(sizeof GUI_ROUTINES / sizeof GUI_ROUTINES[0] == FORWARDED_COUNT + 4,
              "every forwarded name has its routine");

} // namespace kel
