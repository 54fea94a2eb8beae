// Exact median of nine values by a fixed exchange network (19 exchanges).
#pragma once

#include <array>
#include <utility>

template <typename T>
inline T median9(std::array<T, 9> p) {
    auto order = [&p](int a, int b) {
        if (p[b] < p[a]) std::swap(p[a], p[b]);
    };
    order(1, 2); order(4, 5); order(7, 8);
    order(0, 1); order(3, 4); order(6, 7);
    order(1, 2); order(4, 5); order(7, 8);
    order(0, 3); order(5, 8); order(4, 7);
    order(3, 6); order(1, 4); order(2, 5);
    order(4, 7); order(4, 2); order(6, 4);
    order(4, 2);
    return p[4];
}
