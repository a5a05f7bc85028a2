// For a SHA-256 backend: include after defining Sha256::State, in the one backend a build links
// (these are its definitions, not inline ones). The state is made inside the
// object's own storage, so a hash allocates nothing.
#pragma once

#include <new>

#include "portable/net/sha256.h"

Sha256::State* Sha256::Make(void* storage) noexcept {
    static_assert(sizeof(State) <= sizeof storage_, "the state must fit the object");
    static_assert(alignof(State) <= alignof(std::max_align_t), "the state must fit the object");
    return new (storage) State();
}

void Sha256::Unmake(State* state) noexcept {
    state->~State();
}
