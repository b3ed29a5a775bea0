#include "platform/ui/WindowRegistry.h"

#include <unordered_map>
#include <vector>

#include <QPointer>

#include "platform/app/AppInfo.h"

namespace platform {
namespace {

std::unordered_map<std::type_index, QPointer<Window>>& windows() {
    static std::unordered_map<std::type_index, QPointer<Window>> w;
    return w;
}

bool endWhenLastCloses = false;

std::vector<QPointer<Window>> snapshot() {
    std::vector<QPointer<Window>> all;
    for (auto& [type, w] : windows())
        if (w)
            all.push_back(w);
    return all;
}

}  // namespace

Window* WindowRegistry::findByType(std::type_index type) {
    auto it = windows().find(type);
    if (it == windows().end())
        return nullptr;
    Window* w = it->second.data();
    return w && !w->isUnloaded() ? w : nullptr;
}

void WindowRegistry::add(std::type_index type, Window* w) {
    windows()[type] = w;
}

void WindowRegistry::remove(Window* w) {
    for (auto it = windows().begin(); it != windows().end();) {
        if (it->second == w || it->second.isNull())
            it = windows().erase(it);
        else
            ++it;
    }
}

int WindowRegistry::loadedCount() {
    return static_cast<int>(snapshot().size());
}

bool WindowRegistry::anyVisible() {
    for (const auto& w : snapshot())
        if (w && w->isVisible())
            return true;
    return false;
}

void WindowRegistry::unloadAll() {
    for (const auto& w : snapshot())
        if (w)
            w->Unload();
}

void WindowRegistry::destroyAll() {
    for (const auto& w : snapshot())
        if (w)
            w->destroyForEnd();
}

void WindowRegistry::setEndWhenLastWindowCloses(bool on) {
    endWhenLastCloses = on;
}

void WindowRegistry::windowUnloaded() {
    // A window loaded again in the background (the main window reloaded by a device action)
    // does not keep the program alive on its own once the user has closed everything visible.
    if (endWhenLastCloses && !anyVisible())
        App::End();
}

}  // namespace platform
