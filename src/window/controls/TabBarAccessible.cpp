#include "TabBarAccessible.h"

#include "StripTabBar.h"

#include <QAccessibleActionInterface>
#include <QPointer>

namespace {

// One tab of the bar.
class TabAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    TabAccessible(QTabBar* bar, int index) : bar_(bar), index_(index) {}

    bool isValid() const override { return !bar_.isNull() && index_ < bar_->count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return parent()->window(); }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(bar_.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::PageTab; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text t) const override {
        if (!isValid())
            return QString();
        if (t == QAccessible::Name)
            return bar_->tabText(index_).remove(u'&');
        if (t == QAccessible::Description)
            return bar_->tabToolTip(index_);
        return QString();
    }

    QRect rect() const override {
        if (!isValid())
            return QRect();
        const QRect r = bar_->tabRect(index_);
        return QRect(bar_->mapToGlobal(r.topLeft()), r.size());
    }

    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        s.selected = bar_->currentIndex() == index_;
        s.focused = s.selected && bar_->hasFocus();
        s.disabled = !bar_->isTabEnabled(index_);
        s.invisible = !bar_->isVisible() || !bar_->isTabVisible(index_);
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (isValid() && name == pressAction())
            bar_->setCurrentIndex(index_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<QTabBar> bar_;
    int index_;
};

QAccessibleInterface* stripTabBarFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(StripTabBar::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new TabBarAccessible(static_cast<QTabBar*>(object));
    return nullptr;
}

} // namespace

TabBarAccessible::TabBarAccessible(QTabBar* bar)
    : QAccessibleWidget(bar, QAccessible::PageTabList) {}

TabBarAccessible::~TabBarAccessible() {
    for (QAccessible::Id id : std::as_const(tabs_))
        QAccessible::deleteAccessibleInterface(id);
}

QTabBar* TabBarAccessible::bar() const {
    return static_cast<QTabBar*>(object());
}

int TabBarAccessible::childCount() const {
    return bar()->count();
}

QAccessibleInterface* TabBarAccessible::child(int index) const {
    if (index < 0 || index >= bar()->count())
        return nullptr;
    while (tabs_.size() <= index) {
        auto* tab = new TabAccessible(bar(), static_cast<int>(tabs_.size()));
        tabs_.append(QAccessible::registerAccessibleInterface(tab));
    }
    return QAccessible::accessibleInterface(tabs_.at(index));
}

int TabBarAccessible::indexOfChild(const QAccessibleInterface* child) const {
    for (int i = 0; i < tabs_.size(); ++i) {
        if (QAccessible::accessibleInterface(tabs_.at(i)) == child)
            return i;
    }
    return -1;
}

QString TabBarAccessible::text(QAccessible::Text t) const {
    // The bar reads as the selected tab, as a tab control does.
    if (t == QAccessible::Name && bar()->currentIndex() >= 0)
        return bar()->tabText(bar()->currentIndex()).remove(u'&');
    return QAccessibleWidget::text(t);
}

void TabBarAccessible::Install() {
    static const bool installed = [] {
        QAccessible::installFactory(stripTabBarFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void TabBarAccessible::NotifySelectionChanged(QTabBar* bar) {
    if (!QAccessible::isActive() || bar->currentIndex() < 0)
        return;
    QAccessibleEvent selection(bar, QAccessible::Selection);
    selection.setChild(bar->currentIndex());
    QAccessible::updateAccessibility(&selection);
    if (bar->hasFocus()) {
        QAccessibleEvent focus(bar, QAccessible::Focus);
        focus.setChild(bar->currentIndex());
        QAccessible::updateAccessibility(&focus);
    }
}
