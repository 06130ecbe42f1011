// A companion module that records how it was called.

#include <cstdint>
#include <cstring>

namespace {

int calls = 0;
char lastName[64] = {};
std::uint32_t lastHandle = 0;

} // namespace

extern "C" {

__attribute__((visibility("default"))) void PLX_SET_CVL(const char* name, std::uint32_t handle) {
    ++calls;
    std::strncpy(lastName, name, sizeof lastName - 1);
    lastHandle = handle;
}

__attribute__((visibility("default"))) int PlxRecordedCalls(const char** name,
                                                            std::uint32_t* handle) {
    *name = lastName;
    *handle = lastHandle;
    return calls;
}
}
