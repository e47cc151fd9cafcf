#include "IconRegistry.h"

#include <map>

namespace {

struct Registry {
    std::map<IconHandle, QIcon> icons;
    std::map<qint64, IconHandle> handleOfKey;
    IconHandle lastHandle = 0;
};

// Kept for the whole run: the icons must not outlive the application object in a static
// destructor.
Registry& registry() {
    static Registry* const instance = new Registry;
    return *instance;
}

} // namespace

IconHandle RegisterIcon(const QIcon& icon) {
    if (icon.isNull())
        return 0;
    Registry& r = registry();
    const auto known = r.handleOfKey.find(icon.cacheKey());
    if (known != r.handleOfKey.end())
        return known->second;
    const IconHandle hIcon = ++r.lastHandle;
    r.icons.emplace(hIcon, icon);
    r.handleOfKey.emplace(icon.cacheKey(), hIcon);
    return hIcon;
}

QIcon IconOfHandle(IconHandle hIcon) {
    const Registry& r = registry();
    const auto found = r.icons.find(hIcon);
    return found != r.icons.end() ? found->second : QIcon();
}
