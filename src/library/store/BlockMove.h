#pragma once

#include <algorithm>
#include <set>
#include <vector>

namespace velto {

// Moves the elements at `sources` (ascending, those outside the list ignored) as one block so
// that it lands before the element that stood at `destination`. Returns false, leaving the
// list alone, when no source lies inside it.
template <class T>
bool applyBlockMove(std::vector<T>& list, const std::set<int>& sources, int destination) {
    const int count = static_cast<int>(list.size());
    std::vector<int> kept;
    for (int source : sources)
        if (source >= 0 && source < count) kept.push_back(source);
    if (kept.empty()) return false;

    std::vector<T> block;
    block.reserve(kept.size());
    for (int source : kept) block.push_back(std::move(list[static_cast<std::size_t>(source)]));
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) list.erase(list.begin() + *it);

    const auto before =
        std::count_if(kept.begin(), kept.end(), [&](int s) { return s < destination; });
    const long insertion = std::clamp(static_cast<long>(destination) - static_cast<long>(before),
                                      0L, static_cast<long>(list.size()));
    list.insert(list.begin() + insertion, std::make_move_iterator(block.begin()),
                std::make_move_iterator(block.end()));
    return true;
}

}  // namespace velto
