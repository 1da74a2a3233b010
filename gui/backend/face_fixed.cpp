// The container of faces: a GtkFixed that gives every child exactly the
// place and size its face asks for, whatever the theme's minimum for that
// widget, and clips each child's painting to that rectangle, so a native
// widget never spills onto its neighbours and a window never grows to make
// room for one. Its own preferred size is nothing: the size request set from
// the face is its whole size.
//
// A container made without a window of its own paints onto its parent's
// window, over what the parent painted, so a face without a colour shows
// what lies under it; an input-only window of the container's size takes its
// mouse events. A tab panel's container lays its notebook over its whole
// area and its pages over the notebook's page area.
#include "gui/backend/widgets.hpp"

namespace kel {

struct FaceFixed {
    GtkFixed parent;
    GdkWindow* input;           // input-only window of a windowless container, or null
    GtkWidget* notebook;        // a tab panel's notebook, or null
    FacePagesPlaced pages_placed;
    gpointer pages_data;
    GdkRectangle page_area;     // last page area given to the pages (container coordinates)
};

struct FaceFixedClass {
    GtkFixedClass parent_class;
};

G_DEFINE_TYPE(FaceFixed, face_fixed, GTK_TYPE_FIXED)

#define FACE_FIXED(widget) (reinterpret_cast<FaceFixed*>(widget))

static void face_fixed_init(FaceFixed* fixed) {
    fixed->input = nullptr;
    fixed->notebook = nullptr;
    fixed->pages_placed = nullptr;
    fixed->pages_data = nullptr;
    fixed->page_area = GdkRectangle{0, 0, 0, 0};
}

// The size request set from the face is the container's whole size.
static void face_fixed_preferred_nothing(GtkWidget*, gint* minimum, gint* natural) {
    *minimum = 0;
    *natural = 0;
}

static void face_fixed_realize(GtkWidget* widget) {
    GTK_WIDGET_CLASS(face_fixed_parent_class)->realize(widget);
    if (gtk_widget_get_has_window(widget)) return;
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    GdkWindowAttr attributes{};
    attributes.window_type = GDK_WINDOW_CHILD;
    attributes.wclass = GDK_INPUT_ONLY;
    attributes.x = a.x;
    attributes.y = a.y;
    attributes.width = a.width;
    attributes.height = a.height;
    attributes.event_mask = gtk_widget_get_events(widget) | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                            GDK_POINTER_MOTION_MASK | GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK |
                            GDK_SCROLL_MASK;
    FaceFixed* fixed = FACE_FIXED(widget);
    fixed->input = gdk_window_new(gtk_widget_get_parent_window(widget), &attributes, GDK_WA_X | GDK_WA_Y);
    gtk_widget_register_window(widget, fixed->input);
}

static void face_fixed_unrealize(GtkWidget* widget) {
    FaceFixed* fixed = FACE_FIXED(widget);
    if (fixed->input) {
        gtk_widget_unregister_window(widget, fixed->input);
        gdk_window_destroy(fixed->input);
        fixed->input = nullptr;
    }
    GTK_WIDGET_CLASS(face_fixed_parent_class)->unrealize(widget);
}

// The input window goes under the children's windows, which are shown after it.
static void face_fixed_map(GtkWidget* widget) {
    if (GdkWindow* input = FACE_FIXED(widget)->input) gdk_window_show(input);
    GTK_WIDGET_CLASS(face_fixed_parent_class)->map(widget);
}

static void face_fixed_unmap(GtkWidget* widget) {
    if (GdkWindow* input = FACE_FIXED(widget)->input) gdk_window_hide(input);
    GTK_WIDGET_CLASS(face_fixed_parent_class)->unmap(widget);
}

// The area of the notebook's current page, in the coordinates children are
// allocated in; the whole notebook when it shows no page.
static GdkRectangle notebook_page_area(GtkWidget* notebook) {
    GtkAllocation area;
    gtk_widget_get_allocation(notebook, &area);
    GtkNotebook* book = GTK_NOTEBOOK(notebook);
    int current = gtk_notebook_get_current_page(book);
    GtkWidget* page = current >= 0 ? gtk_notebook_get_nth_page(book, current) : nullptr;
    if (page && gtk_widget_get_visible(page)) {
        GtkAllocation inner;
        gtk_widget_get_allocation(page, &inner);
        if (inner.width > 1 && inner.height > 1) return inner;
    }
    return area;
}

static void face_fixed_size_allocate(GtkWidget* widget, GtkAllocation* allocation) {
    FaceFixed* fixed = FACE_FIXED(widget);
    gtk_widget_set_allocation(widget, allocation);
    bool own_window = gtk_widget_get_has_window(widget);
    if (gtk_widget_get_realized(widget)) {
        if (own_window)
            gdk_window_move_resize(gtk_widget_get_window(widget), allocation->x, allocation->y, allocation->width,
                                   allocation->height);
        if (fixed->input)
            gdk_window_move_resize(fixed->input, allocation->x, allocation->y, allocation->width,
                                   allocation->height);
    }
    // Children are placed in the container's window: from its corner when
    // the container has one, else from the container's own corner.
    int base_x = own_window ? 0 : allocation->x, base_y = own_window ? 0 : allocation->y;
    bool pages_known = false;
    GdkRectangle pages{0, 0, 0, 0};
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    if (fixed->notebook) {
        // The notebook first: its page area places the pages.
        GtkRequisition minimum;
        gtk_widget_get_preferred_size(fixed->notebook, &minimum, nullptr);
        GtkAllocation a{base_x, base_y, allocation->width, allocation->height};
        gtk_widget_size_allocate(fixed->notebook, &a);
        pages = notebook_page_area(fixed->notebook);
        pages_known = true;
    }
    for (GList* l = children; l; l = l->next) {
        GtkWidget* child = GTK_WIDGET(l->data);
        if (child == fixed->notebook || !gtk_widget_get_visible(child)) continue;
        GtkRequisition minimum;
        gtk_widget_get_preferred_size(child, &minimum, nullptr);
        GtkAllocation a;
        if (pages_known) {
            a = pages;
        } else {
            int x = 0, y = 0, width = -1, height = -1;
            gtk_container_child_get(GTK_CONTAINER(widget), child, "x", &x, "y", &y, nullptr);
            gtk_widget_get_size_request(child, &width, &height);
            a.x = base_x + x;
            a.y = base_y + y;
            a.width = width >= 0 ? width : minimum.width;
            a.height = height >= 0 ? height : minimum.height;
        }
        gtk_widget_size_allocate(child, &a);
    }
    g_list_free(children);
    gtk_widget_set_clip(widget, allocation);
    if (pages_known) {
        fixed->page_area = GdkRectangle{pages.x - base_x, pages.y - base_y, pages.width, pages.height};
        if (fixed->pages_placed) fixed->pages_placed(widget, &fixed->page_area, fixed->pages_data);
    }
}

// Children are painted in order, each inside its own rectangle.
static gboolean face_fixed_draw(GtkWidget* widget, cairo_t* cr) {
    bool own_window = gtk_widget_get_has_window(widget);
    GtkAllocation own;
    gtk_widget_get_allocation(widget, &own);
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* l = children; l; l = l->next) {
        GtkWidget* child = GTK_WIDGET(l->data);
        if (!gtk_widget_is_drawable(child)) continue;
        GtkAllocation a;
        gtk_widget_get_allocation(child, &a);
        cairo_save(cr);
        cairo_rectangle(cr, a.x - (own_window ? 0 : own.x), a.y - (own_window ? 0 : own.y), a.width, a.height);
        cairo_clip(cr);
        gtk_container_propagate_draw(GTK_CONTAINER(widget), child, cr);
        cairo_restore(cr);
    }
    g_list_free(children);
    return FALSE;
}

static void face_fixed_class_init(FaceFixedClass* klass) {
    GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(klass);
    widget_class->get_preferred_width = face_fixed_preferred_nothing;
    widget_class->get_preferred_height = face_fixed_preferred_nothing;
    widget_class->realize = face_fixed_realize;
    widget_class->unrealize = face_fixed_unrealize;
    widget_class->map = face_fixed_map;
    widget_class->unmap = face_fixed_unmap;
    widget_class->size_allocate = face_fixed_size_allocate;
    widget_class->draw = face_fixed_draw;
}

GtkWidget* face_fixed_new(bool own_window) {
    GtkWidget* widget = GTK_WIDGET(g_object_new(face_fixed_get_type(), nullptr));
    gtk_widget_set_has_window(widget, own_window);
    return widget;
}

bool face_fixed_q(GtkWidget* widget) {
    return widget && G_TYPE_CHECK_INSTANCE_TYPE(widget, face_fixed_get_type());
}

GdkWindow* face_fixed_event_window(GtkWidget* widget) {
    if (!face_fixed_q(widget)) return gtk_widget_get_window(widget);
    FaceFixed* fixed = FACE_FIXED(widget);
    return fixed->input ? fixed->input : gtk_widget_get_window(widget);
}

void face_fixed_set_notebook(GtkWidget* widget, GtkWidget* notebook, FacePagesPlaced placed, gpointer data) {
    FaceFixed* fixed = FACE_FIXED(widget);
    fixed->notebook = notebook;
    fixed->pages_placed = placed;
    fixed->pages_data = data;
    gtk_fixed_put(GTK_FIXED(widget), notebook, 0, 0);
}

bool face_fixed_page_area(GtkWidget* widget, GdkRectangle* area) {
    if (!face_fixed_q(widget) || !FACE_FIXED(widget)->notebook) return false;
    *area = FACE_FIXED(widget)->page_area;
    return area->width > 0 && area->height > 0;
}

} // namespace kel
