// Element types for the container tests: one that counts its live instances,
// so that a test can see every element of a tree destroyed.
#pragma once

struct Counted {
    static inline int live = 0;
    int value = 0;
    Counted() { ++live; }
    Counted(const Counted& other) : value(other.value) { ++live; }
    Counted& operator=(const Counted&) = default;
    ~Counted() { --live; }
};
