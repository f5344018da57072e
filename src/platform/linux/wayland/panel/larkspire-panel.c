/* larkspire-panel: the status panel on a Wayland compositor that offers the layer-shell
 * protocol (wlroots compositors, KDE), where an ordinary window would be placed and
 * focused by the compositor. The agent draws the panel and sends it here as a picture; this
 * program shows it on the overlay layer, never taking the keyboard, and tells the agent
 * where the user clicked. Commands on standard input, one per line:
 *   image WIDTH HEIGHT BYTES   followed by BYTES of PNG
 *   place TOP LEFT             the panel's margins from the output's top-left corner
 *   show | hide
 * Replies on standard output: "ready", or "unsupported" when the compositor has no layer
 * shell (the program then ends), and "click X Y" for each click on the panel.
 * It ends at the end of its input: the agent is gone. */
#include <gtk-layer-shell/gtk-layer-shell.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>

typedef struct {
    GtkWindow* window;
    GdkPixbuf* picture;
    gboolean shown;
} Panel;

static gboolean draw(GtkWidget* widget, cairo_t* cr, gpointer data) {
    Panel* panel = data;
    (void)widget;
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, 0, 0, 0, 0);
    cairo_paint(cr);
    if (panel->picture) {
        gdk_cairo_set_source_pixbuf(cr, panel->picture, 0, 0);
        cairo_paint(cr);
    }
    return TRUE;
}

static gboolean clicked(GtkWidget* widget, GdkEventButton* event, gpointer data) {
    (void)widget;
    (void)data;
    if (event->type == GDK_BUTTON_PRESS && event->button == 1) {
        printf("click %d %d\n", (int)event->x, (int)event->y);
        fflush(stdout);
    }
    return TRUE;
}

static void setPicture(Panel* panel, const gchar* png, gsize size) {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", NULL);
    if (gdk_pixbuf_loader_write(loader, (const guchar*)png, size, NULL) &&
        gdk_pixbuf_loader_close(loader, NULL)) {
        if (panel->picture) {
            g_object_unref(panel->picture);
        }
        panel->picture = g_object_ref(gdk_pixbuf_loader_get_pixbuf(loader));
        const int width = gdk_pixbuf_get_width(panel->picture);
        const int height = gdk_pixbuf_get_height(panel->picture);
        gtk_widget_set_size_request(GTK_WIDGET(panel->window), width, height);
        gtk_window_resize(panel->window, width, height);
        gtk_widget_queue_draw(GTK_WIDGET(panel->window));
    } else {
        gdk_pixbuf_loader_close(loader, NULL);
    }
    g_object_unref(loader);
}

static gboolean command(GIOChannel* in, GIOCondition condition, gpointer data) {
    Panel* panel = data;
    gchar* line = NULL;
    gsize length = 0;
    if ((condition & (G_IO_HUP | G_IO_ERR)) && !(condition & G_IO_IN)) {
        gtk_main_quit();
        return FALSE;
    }
    if (g_io_channel_read_line(in, &line, &length, NULL, NULL) != G_IO_STATUS_NORMAL) {
        g_free(line);
        gtk_main_quit(); /* end of input: the agent is gone */
        return FALSE;
    }
    int width = 0, height = 0, top = 0, left = 0;
    unsigned long bytes = 0;
    if (sscanf(line, "image %d %d %lu", &width, &height, &bytes) == 3 && bytes < (64u << 20)) {
        gchar* png = g_malloc(bytes);
        gsize got = 0;
        if (g_io_channel_read_chars(in, png, bytes, &got, NULL) == G_IO_STATUS_NORMAL &&
            got == bytes) {
            setPicture(panel, png, bytes);
        }
        g_free(png);
    } else if (sscanf(line, "place %d %d", &top, &left) == 2) {
        gtk_layer_set_margin(panel->window, GTK_LAYER_SHELL_EDGE_TOP, top);
        gtk_layer_set_margin(panel->window, GTK_LAYER_SHELL_EDGE_LEFT, left);
    } else if (strncmp(line, "show", 4) == 0) {
        gtk_widget_show_all(GTK_WIDGET(panel->window));
    } else if (strncmp(line, "hide", 4) == 0) {
        gtk_widget_hide(GTK_WIDGET(panel->window));
    }
    g_free(line);
    return TRUE;
}

int main(int argc, char** argv) {
    gdk_set_allowed_backends("wayland");
    if (!gtk_init_check(&argc, &argv) || !gtk_layer_is_supported()) {
        puts("unsupported");
        return 1;
    }
    Panel panel = {GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL)), NULL, FALSE};
    GtkWidget* window = GTK_WIDGET(panel.window);
    gtk_layer_init_for_window(panel.window);
    gtk_layer_set_namespace(panel.window, "larkspire-status");
    gtk_layer_set_layer(panel.window, GTK_LAYER_SHELL_LAYER_OVERLAY);
    gtk_layer_set_keyboard_mode(panel.window, GTK_LAYER_SHELL_KEYBOARD_MODE_NONE);
    gtk_layer_set_anchor(panel.window, GTK_LAYER_SHELL_EDGE_TOP, TRUE);
    gtk_layer_set_anchor(panel.window, GTK_LAYER_SHELL_EDGE_LEFT, TRUE);
    gtk_layer_set_exclusive_zone(panel.window, -1); /* over panels, moving nothing */
    GdkScreen* screen = gtk_widget_get_screen(window);
    if (gdk_screen_get_rgba_visual(screen)) {
        gtk_widget_set_visual(window, gdk_screen_get_rgba_visual(screen)); /* round corners */
    }
    gtk_widget_set_app_paintable(window, TRUE);
    gtk_widget_add_events(window, GDK_BUTTON_PRESS_MASK);
    g_signal_connect(window, "draw", G_CALLBACK(draw), &panel);
    g_signal_connect(window, "button-press-event", G_CALLBACK(clicked), &panel);

    GIOChannel* in = g_io_channel_unix_new(0);
    g_io_channel_set_encoding(in, NULL, NULL); /* pictures are bytes */
    g_io_add_watch(in, G_IO_IN | G_IO_HUP | G_IO_ERR, command, &panel);
    puts("ready");
    fflush(stdout);
    gtk_main();
    return 0;
}
