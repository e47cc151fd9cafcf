#pragma once

#include <QString>

// How a server's console tells how many players are on: a line that states the count ("players =
// (\d+) players connected", the last such line counts), or one line per player that joins and one
// per player that leaves. A server with neither has no player count at all.
struct PlayerRules {
    QString count;  // a pattern whose first capture group is the number of players
    QString joins;  // a pattern: one player more
    QString leaves; // a pattern: one player less

    bool counts() const { return !count.isEmpty() || (!joins.isEmpty() && !leaves.isEmpty()); }
};
