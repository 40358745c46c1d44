#pragma once

// How a desktop layer keeps the backend its calls go to: the one
// DesktopBackends chose, else `fallback` (the layer's X11 backend).
template <typename Backend, Backend& (*fallback)()>
class BackendChoice {
public:
    static Backend& current() { return chosen() ? *chosen() : fallback(); }
    static void choose(Backend& backend) { chosen() = &backend; }

private:
    static Backend*& chosen() {
        static Backend* backend = nullptr;
        return backend;
    }
};

// A backend's one instance, made on first use and kept to the end of the
// program (layers are used until the last moment).
template <typename T>
T& backendInstance() {
    static T* instance = new T;
    return *instance;
}
