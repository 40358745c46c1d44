#pragma once

#include "platform/desktop/DesktopBackends.h"

// Where a desktop layer's calls go: its X11 backend until DesktopBackends
// puts the layer on the portals' road. Each layer holds one, made from the
// functions that give its two backends, and calls backend() for the one
// chosen.
template <typename Backend>
class BackendChoice {
public:
    using Road = DesktopBackends::Road;

    constexpr BackendChoice(Backend& (*x11)(), Backend& (*portals)())
        : m_x11(x11), m_portals(portals) {}

    Backend& operator()() const { return m_road == Road::portals ? m_portals() : m_x11(); }
    Road road() const { return m_road; }
    void choose(Road road) { m_road = road; }

private:
    Backend& (*m_x11)();
    Backend& (*m_portals)();
    Road m_road = Road::x11;
};

// A backend's one instance, made on first use and kept to the end of the
// program (layers are used until the last moment).
template <typename T>
T& backendInstance() {
    static T* instance = new T;
    return *instance;
}
