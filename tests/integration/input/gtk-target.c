/* A GTK 3 text field for integration tests. Prints to stdout, one line each:
 *   ready PID         once the entry has focus (and the requested selection)
 *   text CONTENT      after every change of the entry's text
 *   key MODS+NAME     for every key press the window receives ("key ctrl+shift+V")
 * Options: --text T, --select START END, --password, --wmclass NAME, --title T.
 * A fuller window above the entry, for reading it: --message T (a label), --notes T (a
 * multi-line text view), --secret T (a password entry), --labels N (N labels in a
 * scrolled grid). */
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int select_start = -1;
static int select_end = -1;
static gboolean announced = FALSE;

static void on_changed(GtkEditable* editable, gpointer data) {
    (void)data;
    printf("text %s\n", gtk_entry_get_text(GTK_ENTRY(editable)));
    fflush(stdout);
}

static gboolean on_key(GtkWidget* widget, GdkEventKey* event, gpointer data) {
    (void)widget;
    (void)data;
    printf("key %s%s%s%s\n", (event->state & GDK_CONTROL_MASK) ? "ctrl+" : "",
           (event->state & GDK_SHIFT_MASK) ? "shift+" : "",
           (event->state & GDK_MOD1_MASK) ? "alt+" : "", gdk_keyval_name(event->keyval));
    fflush(stdout);
    return FALSE;
}

static gboolean announce(gpointer entry) {
    if (select_start >= 0) {
        gtk_editable_select_region(GTK_EDITABLE(entry), select_start, select_end);
    }
    printf("ready %d\n", (int)getpid());
    fflush(stdout);
    return G_SOURCE_REMOVE;
}

static gboolean on_focus_in(GtkWidget* widget, GdkEvent* event, gpointer entry) {
    (void)widget;
    (void)event;
    if (!announced) {
        announced = TRUE;
        g_timeout_add(100, announce, entry);
    }
    return FALSE;
}

int main(int argc, char** argv) {
    const char* text = "";
    const char* title = "gtk-target";
    const char* wmclass = NULL;
    gboolean password = FALSE;
    const char* message = NULL;
    const char* notes = NULL;
    const char* secret = NULL;
    int labels = 0;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--text") && i + 1 < argc) {
            text = argv[++i];
        } else if (!strcmp(argv[i], "--select") && i + 2 < argc) {
            select_start = atoi(argv[++i]);
            select_end = atoi(argv[++i]);
        } else if (!strcmp(argv[i], "--password")) {
            password = TRUE;
        } else if (!strcmp(argv[i], "--wmclass") && i + 1 < argc) {
            wmclass = argv[++i];
        } else if (!strcmp(argv[i], "--title") && i + 1 < argc) {
            title = argv[++i];
        } else if (!strcmp(argv[i], "--message") && i + 1 < argc) {
            message = argv[++i];
        } else if (!strcmp(argv[i], "--notes") && i + 1 < argc) {
            notes = argv[++i];
        } else if (!strcmp(argv[i], "--secret") && i + 1 < argc) {
            secret = argv[++i];
        } else if (!strcmp(argv[i], "--labels") && i + 1 < argc) {
            labels = atoi(argv[++i]);
        }
    }
    if (wmclass) {
        g_set_prgname(wmclass);
        gdk_set_program_class(wmclass);
    }
    gtk_init(NULL, NULL);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), title);
    gtk_window_set_default_size(GTK_WINDOW(window), 400, 60);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_container_add(GTK_CONTAINER(window), box);
    if (message) {
        gtk_box_pack_start(GTK_BOX(box), gtk_label_new(message), FALSE, FALSE, 0);
    }
    if (notes) {
        GtkWidget* view = gtk_text_view_new();
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), notes, -1);
        gtk_box_pack_start(GTK_BOX(box), view, FALSE, FALSE, 0);
    }
    if (secret) {
        GtkWidget* hidden = gtk_entry_new();
        gtk_entry_set_text(GTK_ENTRY(hidden), secret);
        gtk_entry_set_visibility(GTK_ENTRY(hidden), FALSE);
        gtk_box_pack_start(GTK_BOX(box), hidden, FALSE, FALSE, 0);
    }
    if (labels > 0) {
        GtkWidget* scrolled = gtk_scrolled_window_new(NULL, NULL);
        GtkWidget* grid = gtk_grid_new();
        for (int i = 0; i < labels; ++i) {
            char name[64];
            snprintf(name, sizeof name, "Item %d of the list", i + 1);
            gtk_grid_attach(GTK_GRID(grid), gtk_label_new(name), i % 8, i / 8, 1, 1);
        }
        gtk_container_add(GTK_CONTAINER(scrolled), grid);
        gtk_box_pack_start(GTK_BOX(box), scrolled, TRUE, TRUE, 0);
        gtk_window_set_default_size(GTK_WINDOW(window), 1000, 600);
    }
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), text);
    gtk_entry_set_visibility(GTK_ENTRY(entry), !password);
    gtk_box_pack_start(GTK_BOX(box), entry, FALSE, FALSE, 0);
    g_signal_connect(entry, "changed", G_CALLBACK(on_changed), NULL);
    g_signal_connect(window, "key-press-event", G_CALLBACK(on_key), NULL);
    g_signal_connect(window, "focus-in-event", G_CALLBACK(on_focus_in), entry);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_widget_show_all(window);
    gtk_widget_grab_focus(entry);
    gtk_window_present(GTK_WINDOW(window));
    gtk_main();
    return 0;
}
