#pragma once
// A window system whose only working call is PostMessage, recording what is posted, so
// tests can read the messages a window's queue would hold.
#include <mutex>
#include <vector>

#include "framework/WindowApi.h"

namespace fakegraph {

// Messages the player posted, as the window's queue would hold them.
struct Posted {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

inline std::mutex& postedMutex() {
    static std::mutex m;
    return m;
}
inline std::vector<Posted>& posted() {
    static std::vector<Posted> p;
    return p;
}

inline BOOL recordPost(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> l(postedMutex());
    posted().push_back({window, message, wParam, lParam});
    return TRUE;
}

inline void installRecordingWindowApi() {
    WindowApi api;
    api.PostMessage = &recordPost;
    installWindowApi(api);
    std::lock_guard<std::mutex> l(postedMutex());
    posted().clear();
}

inline std::vector<Posted> postedMessages(UINT message) {
    std::lock_guard<std::mutex> l(postedMutex());
    std::vector<Posted> out;
    for (const Posted& p : posted())
        if (p.message == message) out.push_back(p);
    return out;
}

}  // namespace fakegraph
