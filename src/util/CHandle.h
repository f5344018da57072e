#pragma once

#include <memory>

namespace larkspire {

// Frees a C library's object with the function `Free` (a function pointer, or a
// captureless lambda for release sequences of more than one call). A null handle is
// never passed to it: many C release functions do not accept one.
template <auto Free>
struct FreeWith {
    template <class T>
    void operator()(T* object) const noexcept {
        if (object) {
            Free(object);
        }
    }
};

// An owning handle of a C library's object: CHandle<CURL, curl_easy_cleanup>.
template <class T, auto Free>
using CHandle = std::unique_ptr<T, FreeWith<Free>>;

}  // namespace larkspire
