#include "ConsoleProbe.h"

#include <sstream>

std::optional<ConsoleProbe> ConsoleProbe::Parse(const std::string& answer) {
    std::istringstream in(answer);
    ConsoleProbe probe;
    std::string dead, cursor;
    std::int64_t activity = 0;
    char times = 0;
    if (!(in >> probe.paneId >> probe.panePid >> dead >> probe.width >> times >> probe.height >>
          probe.historySize >> cursor >> probe.historyLimit >> activity) ||
        times != 'x' || probe.paneId.empty() || probe.paneId[0] != '%')
        return std::nullopt;
    return probe;
}
