#include "OomKills.h"

#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace {

struct CgroupMount {
    std::string root;  // the group mounted there, within its hierarchy
    std::string point; // where it is mounted
};

// Fields of /proc/self/mountinfo: "id parent major:minor root point options... - type source
// super-options". Escaped characters in paths ("\040") are left as they are: no cgroup folder of
// interest has them.
std::vector<std::string> Split(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string field; in >> field;)
        fields.push_back(field);
    return fields;
}

bool HasOption(const std::string& options, std::string_view option) {
    std::size_t from = 0;
    while (from <= options.size()) {
        const std::size_t comma = options.find(',', from);
        const std::size_t end = comma == std::string::npos ? options.size() : comma;
        if (std::string_view(options).substr(from, end - from) == option)
            return true;
        from = end + 1;
    }
    return false;
}

// The mount of the unified hierarchy, or of the v1 hierarchy that has the memory controller.
bool FindMount(bool unified, CgroupMount& mount) {
    std::ifstream info("/proc/self/mountinfo");
    for (std::string line; std::getline(info, line);) {
        const std::vector<std::string> f = Split(line);
        std::size_t dash = 0;
        while (dash < f.size() && f[dash] != "-")
            ++dash;
        if (dash < 5 || dash + 3 > f.size())
            continue;
        const std::string& type = f[dash + 1];
        if (unified ? type == "cgroup2" : type == "cgroup" && HasOption(f[dash + 3], "memory")) {
            mount = {f[3], f[4]};
            return true;
        }
    }
    return false;
}

// The group's path below the mount; false when the group is not under what is mounted.
bool Below(const CgroupMount& mount, const std::string& group, std::string& folder) {
    std::string_view rest(group);
    if (mount.root != "/") {
        if (rest.substr(0, mount.root.size()) != mount.root ||
            (rest.size() > mount.root.size() && rest[mount.root.size()] != '/'))
            return false;
        rest.remove_prefix(mount.root.size());
    }
    folder = mount.point + std::string(rest);
    return true;
}

} // namespace

MemoryCgroup MemoryCgroupOf(pid_t pid) {
    std::ifstream groups("/proc/" + std::to_string(pid) + "/cgroup");
    std::string v1, v2;
    // "hierarchy:controllers:path"; the unified one is "0::path".
    for (std::string line; std::getline(groups, line);) {
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        if (line.compare(0, first, "0") == 0 && controllers.empty())
            v2 = line.substr(second + 1);
        else if (HasOption(controllers, "memory"))
            v1 = line.substr(second + 1);
    }
    MemoryCgroup group;
    CgroupMount mount;
    // The v1 memory controller, where it is mounted, counts; the unified hierarchy then has no
    // memory controller of its own.
    if (!v1.empty() && FindMount(false, mount) && Below(mount, v1, group.folder))
        return group;
    if (!v2.empty() && FindMount(true, mount) && Below(mount, v2, group.folder)) {
        group.unified = true;
        return group;
    }
    group.folder.clear();
    return group;
}

long long OomKillsIn(const MemoryCgroup& group) {
    if (group.folder.empty())
        return -1;
    std::ifstream counts(group.folder + (group.unified ? "/memory.events" : "/memory.oom_control"));
    std::string name;
    long long value = 0;
    while (counts >> name >> value)
        if (name == "oom_kill")
            return value;
    return -1;
}
