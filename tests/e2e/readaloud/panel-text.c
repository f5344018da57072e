/* Prints what the agent's status panel shows, as the accessibility bus reports it: one
 * line per label ("label TEXT") and button ("button NAME"), nothing while the panel is
 * hidden. Exit status 1 when the agent is not on the bus.
 *   panel-text AGENT_PID */
#include <atspi/atspi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void walk(AtspiAccessible* node, int depth) {
    if (depth > 8) {
        return;
    }
    AtspiRole role = atspi_accessible_get_role(node, NULL);
    if (role == ATSPI_ROLE_LABEL || role == ATSPI_ROLE_PUSH_BUTTON) {
        gchar* name = atspi_accessible_get_name(node, NULL);
        if (name && *name) {
            printf("%s %s\n", role == ATSPI_ROLE_LABEL ? "label" : "button", name);
        }
        g_free(name);
    }
    gint n = atspi_accessible_get_child_count(node, NULL);
    for (gint i = 0; i < n; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, NULL);
        if (child) {
            walk(child, depth + 1);
            g_object_unref(child);
        }
    }
}

static int showing(AtspiAccessible* window) {
    AtspiStateSet* states = atspi_accessible_get_state_set(window);
    int result = states && atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
    if (states) {
        g_object_unref(states);
    }
    return result;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: panel-text AGENT_PID\n");
        return 2;
    }
    const guint pid = (guint)strtoul(argv[1], NULL, 10);
    if (atspi_init() < 0) {
        return 1;
    }
    atspi_set_timeout(2000, 5000); /* a busy agent must not hang the test */
    AtspiAccessible* desktop = atspi_get_desktop(0);
    int found = 0;
    gint apps = atspi_accessible_get_child_count(desktop, NULL);
    for (gint i = 0; i < apps; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, NULL);
        if (!app) {
            continue;
        }
        if (atspi_accessible_get_process_id(app, NULL) == pid) {
            found = 1;
            gint windows = atspi_accessible_get_child_count(app, NULL);
            for (gint w = 0; w < windows; ++w) {
                AtspiAccessible* window = atspi_accessible_get_child_at_index(app, w, NULL);
                if (!window) {
                    continue;
                }
                gchar* name = atspi_accessible_get_name(window, NULL);
                if (name && strcmp(name, "Larkspire status") == 0 && showing(window)) {
                    walk(window, 0);
                }
                g_free(name);
                g_object_unref(window);
            }
        }
        g_object_unref(app);
    }
    g_object_unref(desktop);
    return found ? 0 : 1;
}
