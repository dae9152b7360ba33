// A tiny shared library that the library-table and COM tests load at run time.
#include <atomic>

namespace {
std::atomic<int> unloadAnswer{0};
}

extern "C" {

__attribute__((visibility("default"))) int layerdeckPluginAnswer(int x) {
    return 2 * x + 1;
}

// What DllCanUnloadNow answers: 0 (S_OK, may be unloaded) or 1 (S_FALSE, busy).
__attribute__((visibility("default"))) void layerdeckPluginSetUnloadAnswer(int answer) {
    unloadAnswer = answer;
}

__attribute__((visibility("default"))) int DllCanUnloadNow() {
    return unloadAnswer.load();
}
}
