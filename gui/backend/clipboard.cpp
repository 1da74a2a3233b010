// The system clipboard over GtkClipboard: text, lists of files (as a URI
// list) and images move through it. Reading answers the first kind present
// in that order; writing replaces the content with one value.
#include "gui/backend/module_entry.hpp"
#include "gui/backend/widgets.hpp"
#include "gui/dialog_args.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/unicode.hpp"
#include "datatypes/image.hpp"
#include "runtime/collector.hpp"

#include <cstring>
#include <string>
#include <vector>
#include <iterator>

namespace kel {

static GtkClipboard* clipboard() { return gtk_clipboard_get(GDK_SELECTION_CLIPBOARD); }

// ---- reading ----------------------------------------------------------------------------

// A new image! of the pixbuf (any channel layout GDK gives), into out.
static void image_from_pixbuf(GdkPixbuf* pixbuf, Cell* out) {
    uint32_t width = uint32_t(gdk_pixbuf_get_width(pixbuf));
    uint32_t height = uint32_t(gdk_pixbuf_get_height(pixbuf));
    if (width > IMAGE_SIDE_MAX) width = IMAGE_SIDE_MAX;
    if (height > IMAGE_SIDE_MAX) height = IMAGE_SIDE_MAX;
    image_make_at(out, width, height);
    if (!image_pixel_count(out)) return;
    uint32_t* pixels = image_pixels(out);
    int channels = gdk_pixbuf_get_n_channels(pixbuf);
    bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* bytes = gdk_pixbuf_read_pixels(pixbuf);
    for (uint32_t y = 0; y < height; y++) {
        const guchar* row = bytes + size_t(y) * size_t(stride);
        for (uint32_t x = 0; x < width; x++) {
            const guchar* p = row + size_t(x) * size_t(channels);
            uint32_t a = alpha ? p[3] : 255;
            pixels[y * width + x] = (a << 24) | (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
        }
    }
}

// Text is offered and asked for as UTF-8 bytes as they are: GTK's own text
// conversions turn every CR into a line feed.
static GdkAtom utf8_target() { return gdk_atom_intern_static_string("UTF8_STRING"); }

// The clipboard's text as its owner offers it in UTF-8, into out; false when
// it offers no valid UTF-8 text that way.
static bool clipboard_read_utf8(Cell* out) {
    GtkSelectionData* data = gtk_clipboard_wait_for_contents(clipboard(), utf8_target());
    if (!data) return false;
    const guchar* bytes = gtk_selection_data_get_data(data);
    gint length = gtk_selection_data_get_length(data);
    bool ok = bytes && length >= 0 && g_utf8_validate(reinterpret_cast<const gchar*>(bytes), length, nullptr);
    if (ok) string_load(bytes, uint32_t(length), ENCODING_UTF8, out);
    gtk_selection_data_free(data);
    return ok;
}

// clipboard-read: a string!, a block of file!, an image!, or none when the
// clipboard holds none of these; false when there is no display to reach it.
static void clipboard_read() {
    CellRoot result;
    if (!gui_display_open()) {
        logic_make_at(&result.cell, false);
    } else if (clipboard_read_utf8(&result.cell)) {
        // done
    } else if (gchar* text = gtk_clipboard_wait_for_text(clipboard())) {
        string_load(reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)), ENCODING_UTF8,
                    &result.cell);
        g_free(text);
    } else if (gchar** uris = gtk_clipboard_wait_for_uris(clipboard())) {
        std::vector<std::string> paths;
        for (gchar** u = uris; *u; u++) {
            if (gchar* path = g_filename_from_uri(*u, nullptr, nullptr)) {
                paths.emplace_back(path);
                g_free(path);
            }
        }
        g_strfreev(uris);
        file_dialog_answer(paths, true, &result.cell);
        if (paths.empty()) block_make_at(&result.cell, 1);
    } else if (GdkPixbuf* pixbuf = gtk_clipboard_wait_for_image(clipboard())) {
        image_from_pixbuf(pixbuf, &result.cell);
        g_object_unref(pixbuf);
    }
    stack_set_last_reset(&result.cell);
}

// ---- writing ----------------------------------------------------------------------------

GdkPixbuf* pixbuf_from_image(const Cell* image) {
    if (image_pixel_count(image) == 0) return nullptr;
    int width = int(image_width(image)), height = int(image_height(image));
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
    if (!pixbuf) return nullptr;
    guchar* bytes = gdk_pixbuf_get_pixels(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const uint32_t* pixels = image_pixels(image);
    for (int y = 0; y < height; y++) {
        guchar* row = bytes + size_t(y) * size_t(stride);
        for (int x = 0; x < width; x++) {
            uint32_t p = pixels[size_t(y) * size_t(width) + size_t(x)];
            row[x * 4] = guchar(p >> 16);
            row[x * 4 + 1] = guchar(p >> 8);
            row[x * 4 + 2] = guchar(p);
            row[x * 4 + 3] = guchar(p >> 24);
        }
    }
    return pixbuf;
}

// The text offered for a string: its UTF-8 bytes as they are for the UTF-8
// targets, GTK's conversion for the others (Latin-1 STRING and TEXT).
static void text_get(GtkClipboard*, GtkSelectionData* selection, guint info, gpointer data) {
    const std::string* text = static_cast<const std::string*>(data);
    if (info == 0) {
        gtk_selection_data_set(selection, gtk_selection_data_get_target(selection), 8,
                               reinterpret_cast<const guchar*>(text->data()), gint(text->size()));
    } else {
        gtk_selection_data_set_text(selection, text->data(), gint(text->size()));
    }
}

// The URI list offered for a block of files, one "file://" URI per line.
static void uri_list_get(GtkClipboard*, GtkSelectionData* selection, guint, gpointer data) {
    const std::string* list = static_cast<const std::string*>(data);
    gtk_selection_data_set(selection, gtk_selection_data_get_target(selection), 8,
                           reinterpret_cast<const guchar*>(list->data()), gint(list->size()));
}
static void text_clear(GtkClipboard*, gpointer data) { delete static_cast<std::string*>(data); }

// The URI list of a block of file! and string! values (relative names taken
// from the current folder); any other value raises invalid-arg with it.
static std::string uri_list_of(const Cell* block) {
    std::string list;
    SeriesBuffer* b = series_buffer_of(block);
    const Cell* cells = block_cells(b);
    for (uint32_t i = uint32_t(series_index(block)); i < b->length(); i++) {
        if (cell_type(cells + i) != T_FILE && cell_type(cells + i) != T_STRING) {
            CellRoot bad(cells[i]);
            error_raise(ERR_INVALID_ARG, &bad.cell);
        }
    }
    gchar* cwd = g_get_current_dir();
    for (uint32_t i = uint32_t(series_index(block)); i < b->length(); i++) {
        std::string path = os_text_of(cells + i, -1);
        if (path.empty() || path[0] != '/') path = std::string(cwd) + "/" + path;
        if (gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr)) {
            list += uri;
            list += "\r\n";
            g_free(uri);
        }
    }
    g_free(cwd);
    return list;
}

// clipboard-write data: none empties the clipboard; a string!, an image! or
// a block of file! (or string!) values replaces its content; true on success,
// false when there is no display to reach it. Any other value raises
// invalid-arg before the display is touched.
static void clipboard_write() {
    Cell* data = data_stack.args;
    uint8_t type = cell_type(data);
    if (type != T_NONE && type != T_STRING && type != T_IMAGE && type != T_BLOCK)
        error_raise(ERR_INVALID_ARG, data);
    std::string uris = type == T_BLOCK ? uri_list_of(data) : std::string();
    bool done = gui_display_open();
    if (!done) type = T_UNSET;
    switch (type) {
    case T_UNSET:  // no display
        break;
    case T_NONE:
        gtk_clipboard_set_text(clipboard(), "", 0);
        gtk_clipboard_clear(clipboard());
        break;
    case T_STRING: {
        static const GtkTargetEntry targets[] = {
            {const_cast<gchar*>("UTF8_STRING"), 0, 0},
            {const_cast<gchar*>("text/plain;charset=utf-8"), 0, 0},
            {const_cast<gchar*>("STRING"), 0, 1},
            {const_cast<gchar*>("TEXT"), 0, 1},
            {const_cast<gchar*>("text/plain"), 0, 1},
        };
        // Clipboard text is UTF-8 by definition (GTK refuses anything else):
        // a byte kept from a name that is not UTF-8 goes out as U+FFFD.
        auto* text = new std::string(string_utf8(data));
        done = gtk_clipboard_set_with_data(clipboard(), targets, G_N_ELEMENTS(targets), text_get, text_clear, text);
        if (!done) delete text;  // the clipboard took nothing
        break;
    }
    case T_IMAGE:
        if (GdkPixbuf* pixbuf = pixbuf_from_image(data)) {
            gtk_clipboard_set_image(clipboard(), pixbuf);
            g_object_unref(pixbuf);
        } else {
            done = false;
        }
        break;
    default: {
        static const GtkTargetEntry targets[] = {{const_cast<gchar*>("text/uri-list"), 0, 0}};
        auto* list = new std::string(uris);
        done = gtk_clipboard_set_with_data(clipboard(), targets, 1, uri_list_get, text_clear, list);
        if (!done) delete list;
        break;
    }
    }
    logic_make_at(data, done);
    data_stack.top = data + 1;
}

// ---- exports -------------------------------------------------------------------------------------

static const GuiModuleEntry exports[] = {
    {"clipboard-read", gui_fn(clipboard_read)},
    {"clipboard-write", gui_fn(clipboard_write)},
};
const GuiExportTable CLIPBOARD_EXPORTS = {exports, uint32_t(std::size(exports))};

} // namespace kel
