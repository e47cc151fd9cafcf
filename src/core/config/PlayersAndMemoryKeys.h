#pragma once

#include <QString>
#include <optional>

struct ServerLaunchConfig;

// The keys of a server's section about its players and its memory:
//   players = (\d+) players connected
//   player joins = ^\S+ joined the game
//   player leaves = ^\S+ left the game
//   memory limit = 800 MB for 5 minutes
// Applies the key when it is one of them: true when it was used, false with the reason when not;
// nothing when the key is none of these.
std::optional<bool> ApplyPlayersOrMemoryKey(ServerLaunchConfig& server, const QString& key,
                                            const QString& value, QString* why);

// What keeps a server's player rules from counting: a join pattern without a leave pattern, or the
// other way round. Empty when nothing does.
QString PlayerRulesProblem(const ServerLaunchConfig& server);
