#pragma once

#include <typeindex>

#include "platform/ui/Window.h"

namespace platform {

// Keeps every window of the program at most once, under its class.
class WindowRegistry {
public:
    // The loaded window of class W, or nullptr.
    template <class W>
    static W* find() {
        return static_cast<W*>(findByType(typeid(W)));
    }

    // Refers to the window: creates it hidden and runs its load steps when it is not loaded.
    // Returns nullptr when the load steps unloaded the window again.
    template <class W>
    static W* load() {
        if (W* w = find<W>())
            return w;
        W* w = new W();
        add(typeid(W), w);
        w->runLoad();
        return find<W>() == w ? w : nullptr;
    }

    // Loads the window if needed and shows it modeless, in front.
    template <class W>
    static W* show() {
        W* w = load<W>();
        if (w)
            w->Show();
        return w;
    }

    template <class W>
    static bool isLoaded() {
        return find<W>() != nullptr;
    }

    static int loadedCount();
    static bool anyVisible();

    // Unloads every window with its own unload steps (tests use it between cases).
    static void unloadAll();
    // Removes every window at once without its unload steps: the program is ending.
    static void destroyAll();

    // When on, unloading the last visible window ends the program.
    static void setEndWhenLastWindowCloses(bool on);

private:
    friend class Window;
    static Window* findByType(std::type_index type);
    static void add(std::type_index type, Window* w);
    static void remove(Window* w);
    static void windowUnloaded();
};

}  // namespace platform
