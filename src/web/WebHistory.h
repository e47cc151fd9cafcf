#pragma once

#include <QByteArray>

struct HistoryView;

// The charts' history as the panel's page draws it:
//
//   {"hour": {"map": [[ms, cpu %, resident MB, players or null], ...], ...},
//    "day":  {...the same, by the minute...},
//    "timeline": [{"time": ms, "server": "map", "kind": "crash", "how": "..."}, ...]}
//
// A server's samples are at most kMostPoints, evenly thinned: a browser draws them in time.
namespace WebHistory {

inline constexpr int kMostPoints = 720;
inline constexpr int kMostTimeline = 500;

QByteArray Json(const HistoryView& view);

} // namespace WebHistory
